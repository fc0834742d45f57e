<?xml version="1.0" encoding="UTF-8"?>
<!--
  The list stylesheet: shapes a resource document into the compact list
  the grab dialog shows. It keeps every frame element with its src and
  iframe marks, and below each frame the items of every kind with their
  src, so the frame source filter can make every address absolute
  afterwards. The page's element tree (HTMLDOM) is left out: the dialog
  lists resources, not elements, and the tree can be very large.

  Inline script and stylesheet text is not carried over; an item keeps its
  length and the start of its text, whitespace folded, for display.

  Output shape:
    frame[@src, @iframe]
      images/item[@src, @href, @size, @width, @height, @mime]
      scripts/item[@src, @length, @preview]
      css/item[@src, @length, @preview]
      objects/{qts,flashes,rps,mps}/item[@src]
      frame ...
-->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="xml" encoding="UTF-8" indent="no"/>

  <!-- Characters of inline text kept for the preview. -->
  <xsl:variable name="previewLength" select="240"/>

  <xsl:template match="/">
    <xsl:apply-templates select="frame"/>
  </xsl:template>

  <xsl:template match="frame">
    <frame>
      <xsl:copy-of select="@src | @iframe"/>
      <images>
        <xsl:for-each select="images/item">
          <item>
            <xsl:copy-of select="@src | @href | @size | @width | @height | @mime"/>
          </item>
        </xsl:for-each>
      </images>
      <scripts>
        <xsl:apply-templates select="scripts/item" mode="text"/>
      </scripts>
      <css>
        <xsl:apply-templates select="css/item" mode="text"/>
      </css>
      <objects>
        <qts><xsl:apply-templates select="objects/qts/item" mode="media"/></qts>
        <flashes><xsl:apply-templates select="objects/flashes/item" mode="media"/></flashes>
        <rps><xsl:apply-templates select="objects/rps/item" mode="media"/></rps>
        <mps><xsl:apply-templates select="objects/mps/item" mode="media"/></mps>
      </objects>
      <xsl:apply-templates select="frame"/>
    </frame>
  </xsl:template>

  <!-- A script or stylesheet: its address, and for text its size and start. -->
  <xsl:template match="item" mode="text">
    <item>
      <xsl:copy-of select="@src"/>
      <xsl:if test="string-length(.) &gt; 0">
        <xsl:attribute name="length">
          <xsl:value-of select="string-length(.)"/>
        </xsl:attribute>
        <xsl:attribute name="preview">
          <xsl:value-of select="normalize-space(substring(., 1, $previewLength))"/>
        </xsl:attribute>
      </xsl:if>
    </item>
  </xsl:template>

  <xsl:template match="item" mode="media">
    <item>
      <xsl:copy-of select="@src"/>
    </item>
  </xsl:template>
</xsl:stylesheet>
