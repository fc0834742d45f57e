<?xml version="1.0" encoding="UTF-8"?>
<!--
  The page stylesheet: turns the dialog's list (the list stylesheet's
  output after the frame source filter, or the raw resource document when
  that stylesheet failed) with the picture addresses (limage, rimage,
  okimage, failimage) and the options added to its root, into the grab
  dialog's body.

  Everything in the input that comes from the grabbed page (addresses,
  names, types, script and stylesheet text) is hostile. It only ever
  lands in element text or in attribute values, which the serialiser
  escapes; never in a script, a style block, an event handler attribute or
  an attribute name. Only http, https, ftp, file and mms addresses become
  links, only http, https and file addresses become thumbnails. The
  dialog script (written before this body) finds rows by their data-
  attributes and listens on the root; nothing here calls script.

  Frames are walked along the child axis only, so elements of the page's
  own tree (present when the raw resource document arrives here) are never
  taken for frames or items.
-->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8" indent="no"/>

  <xsl:variable name="root" select="/*"/>
  <xsl:variable name="options" select="$root/options"/>
  <xsl:variable name="selectAll" select="boolean($options/selectall)"/>
  <xsl:variable name="lower" select="'abcdefghijklmnopqrstuvwxyz'"/>
  <xsl:variable name="upper" select="'ABCDEFGHIJKLMNOPQRSTUVWXYZ'"/>
  <!-- Every frame of the page, the outermost first, in document order. -->
  <xsl:variable name="frames" select="$root/descendant-or-self::frame[not(ancestor::HTMLDOM)]"/>

  <xsl:template match="/">
    <div id="qx-dialog" class="qx">
      <xsl:attribute name="data-ok-image"><xsl:value-of select="$root/okimage"/></xsl:attribute>
      <xsl:attribute name="data-fail-image"><xsl:value-of select="$root/failimage"/></xsl:attribute>
      <xsl:attribute name="data-page-url"><xsl:value-of select="$root/@src"/></xsl:attribute>

      <header class="qx-band">
        <img class="qx-corner qx-corner-left" width="21" height="19" alt="">
          <xsl:attribute name="src"><xsl:value-of select="$root/limage"/></xsl:attribute>
        </img>
        <div class="qx-heading">
          <span class="qx-product" data-text="title">Quillory</span>
          <span class="qx-page-url">
            <xsl:attribute name="title"><xsl:value-of select="$root/@src"/></xsl:attribute>
            <xsl:value-of select="$root/@src"/>
          </span>
        </div>
        <nav class="qx-menu">
          <a class="txmenu" role="button" tabindex="0" data-action="options" data-text="options">Options</a>
          <a class="txmenu" role="button" tabindex="0" data-action="language" data-text="language">Language</a>
          <a class="txmenu" role="button" tabindex="0" data-action="help" data-text="help">Help</a>
          <a class="txmenu" role="button" tabindex="0" data-action="about" data-text="about">About</a>
          <a class="txmenu" role="button" tabindex="0" data-action="exit" data-text="exit">Exit</a>
        </nav>
        <img class="qx-corner qx-corner-right" width="27" height="22" alt="">
          <xsl:attribute name="src"><xsl:value-of select="$root/rimage"/></xsl:attribute>
        </img>
      </header>

      <div class="qx-tabs" role="tablist">
        <xsl:call-template name="tab">
          <xsl:with-param name="kind" select="'pictures'"/>
          <xsl:with-param name="label" select="'Pictures'"/>
          <xsl:with-param name="items" select="$frames/images/item"/>
        </xsl:call-template>
        <xsl:call-template name="tab">
          <xsl:with-param name="kind" select="'flash'"/>
          <xsl:with-param name="label" select="'Flash'"/>
          <xsl:with-param name="items" select="$frames/objects/flashes/item"/>
        </xsl:call-template>
        <xsl:call-template name="tab">
          <xsl:with-param name="kind" select="'quicktime'"/>
          <xsl:with-param name="label" select="'QuickTime'"/>
          <xsl:with-param name="items" select="$frames/objects/qts/item"/>
        </xsl:call-template>
        <xsl:call-template name="tab">
          <xsl:with-param name="kind" select="'realplayer'"/>
          <xsl:with-param name="label" select="'RealPlayer'"/>
          <xsl:with-param name="items" select="$frames/objects/rps/item"/>
        </xsl:call-template>
        <xsl:call-template name="tab">
          <xsl:with-param name="kind" select="'mediaplayer'"/>
          <xsl:with-param name="label" select="'Media Player'"/>
          <xsl:with-param name="items" select="$frames/objects/mps/item"/>
        </xsl:call-template>
        <xsl:call-template name="tab">
          <xsl:with-param name="kind" select="'stylesheets'"/>
          <xsl:with-param name="label" select="'Stylesheets'"/>
          <xsl:with-param name="items" select="$frames/css/item"/>
        </xsl:call-template>
        <xsl:call-template name="tab">
          <xsl:with-param name="kind" select="'scripts'"/>
          <xsl:with-param name="label" select="'Scripts'"/>
          <xsl:with-param name="items" select="$frames/scripts/item"/>
        </xsl:call-template>
      </div>

      <main class="qx-panels">
        <xsl:call-template name="panel">
          <xsl:with-param name="kind" select="'pictures'"/>
          <xsl:with-param name="option" select="'GrabImage'"/>
          <xsl:with-param name="on" select="boolean($options/grabpictures)"/>
          <xsl:with-param name="switchLabel" select="'Grab pictures'"/>
          <xsl:with-param name="emptyLabel" select="'No pictures on this page.'"/>
          <xsl:with-param name="count" select="count($frames/images/item)"/>
        </xsl:call-template>
        <xsl:call-template name="panel">
          <xsl:with-param name="kind" select="'flash'"/>
          <xsl:with-param name="option" select="'GrabFlash'"/>
          <xsl:with-param name="on" select="boolean($options/grabflash)"/>
          <xsl:with-param name="switchLabel" select="'Grab Flash movies'"/>
          <xsl:with-param name="emptyLabel" select="'No Flash movies on this page.'"/>
          <xsl:with-param name="count" select="count($frames/objects/flashes/item)"/>
        </xsl:call-template>
        <xsl:call-template name="panel">
          <xsl:with-param name="kind" select="'quicktime'"/>
          <xsl:with-param name="option" select="'GrabQT'"/>
          <xsl:with-param name="on" select="boolean($options/grabqt)"/>
          <xsl:with-param name="switchLabel" select="'Grab QuickTime media'"/>
          <xsl:with-param name="emptyLabel" select="'No QuickTime media on this page.'"/>
          <xsl:with-param name="count" select="count($frames/objects/qts/item)"/>
        </xsl:call-template>
        <xsl:call-template name="panel">
          <xsl:with-param name="kind" select="'realplayer'"/>
          <xsl:with-param name="option" select="'GrabRP'"/>
          <xsl:with-param name="on" select="boolean($options/grabrp)"/>
          <xsl:with-param name="switchLabel" select="'Grab RealPlayer media'"/>
          <xsl:with-param name="emptyLabel" select="'No RealPlayer media on this page.'"/>
          <xsl:with-param name="count" select="count($frames/objects/rps/item)"/>
        </xsl:call-template>
        <xsl:call-template name="panel">
          <xsl:with-param name="kind" select="'mediaplayer'"/>
          <xsl:with-param name="option" select="'GrabMP'"/>
          <xsl:with-param name="on" select="boolean($options/grabmp)"/>
          <xsl:with-param name="switchLabel" select="'Grab Media Player media'"/>
          <xsl:with-param name="emptyLabel" select="'No Media Player media on this page.'"/>
          <xsl:with-param name="count" select="count($frames/objects/mps/item)"/>
        </xsl:call-template>
        <xsl:call-template name="panel">
          <xsl:with-param name="kind" select="'stylesheets'"/>
          <xsl:with-param name="option" select="'GrabCSS'"/>
          <xsl:with-param name="on" select="boolean($options/grabcss)"/>
          <xsl:with-param name="switchLabel" select="'Grab stylesheets'"/>
          <xsl:with-param name="emptyLabel" select="'No stylesheets on this page.'"/>
          <xsl:with-param name="count" select="count($frames/css/item)"/>
        </xsl:call-template>
        <xsl:call-template name="panel">
          <xsl:with-param name="kind" select="'scripts'"/>
          <xsl:with-param name="option" select="'GrabScript'"/>
          <xsl:with-param name="on" select="boolean($options/grabscript)"/>
          <xsl:with-param name="switchLabel" select="'Grab scripts'"/>
          <xsl:with-param name="emptyLabel" select="'No scripts on this page.'"/>
          <xsl:with-param name="count" select="count($frames/scripts/item)"/>
        </xsl:call-template>
      </main>

      <footer class="qx-footer">
        <div class="qx-folder">
          <label for="qx-root" class="qx-folder-label" data-text="rootFolder">Save into</label>
          <input id="qx-root" class="qx-root" type="text" spellcheck="false" autocomplete="off">
            <xsl:attribute name="value"><xsl:value-of select="$options/rootfolder"/></xsl:attribute>
          </input>
          <button type="button" class="qx-button" data-action="browse" data-text="browse">Browse...</button>
        </div>
        <div class="qx-actions">
          <label class="checkBox qx-check">
            <input type="checkbox" class="qx-option" data-option="SelectAll">
              <xsl:if test="$selectAll"><xsl:attribute name="checked">checked</xsl:attribute></xsl:if>
            </input>
            <span data-text="selectAllOption">Select everything</span>
          </label>
          <label class="checkBox qx-check">
            <input type="checkbox" class="qx-option" data-option="AutoClose">
              <xsl:if test="$options/autoclose"><xsl:attribute name="checked">checked</xsl:attribute></xsl:if>
            </input>
            <span data-text="autoClose">Close when all are saved</span>
          </label>
          <span class="qx-summary" aria-live="polite"></span>
          <button type="button" class="qx-button qx-primary" data-action="save">
            <span class="qx-spinner" aria-hidden="true"></span>
            <span class="qx-save-label" data-text="save">Save</span>
          </button>
        </div>
        <div class="qx-message" role="status" hidden="hidden"></div>
      </footer>
    </div>
  </xsl:template>

  <!-- One tab: the kind's name and how many items it has. -->
  <xsl:template name="tab">
    <xsl:param name="kind"/>
    <xsl:param name="label"/>
    <xsl:param name="items"/>
    <button type="button" class="qx-tab" role="tab" data-action="tab">
      <xsl:attribute name="data-kind"><xsl:value-of select="$kind"/></xsl:attribute>
      <xsl:if test="not($items)"><xsl:attribute name="data-empty">1</xsl:attribute></xsl:if>
      <span class="qx-tab-label">
        <xsl:attribute name="data-text"><xsl:value-of select="$kind"/></xsl:attribute>
        <xsl:value-of select="$label"/>
      </span>
      <span class="qx-count"><xsl:value-of select="count($items)"/></span>
    </button>
  </xsl:template>

  <!-- One kind's panel: its grab option, select all/none, one group per frame. -->
  <xsl:template name="panel">
    <xsl:param name="kind"/>
    <xsl:param name="option"/>
    <xsl:param name="on"/>
    <xsl:param name="switchLabel"/>
    <xsl:param name="emptyLabel"/>
    <xsl:param name="count"/>
    <section class="qx-panel" role="tabpanel" hidden="hidden">
      <xsl:attribute name="data-kind"><xsl:value-of select="$kind"/></xsl:attribute>
      <xsl:attribute name="data-option"><xsl:value-of select="$option"/></xsl:attribute>
      <xsl:if test="not($on)"><xsl:attribute name="data-off">1</xsl:attribute></xsl:if>
      <div class="qx-panel-head">
        <label class="checkBox qx-check qx-switch">
          <input type="checkbox" class="qx-option">
            <xsl:attribute name="data-option"><xsl:value-of select="$option"/></xsl:attribute>
            <xsl:if test="$on"><xsl:attribute name="checked">checked</xsl:attribute></xsl:if>
          </input>
          <span>
            <xsl:attribute name="data-text"><xsl:value-of select="concat('grab-', $kind)"/></xsl:attribute>
            <xsl:value-of select="$switchLabel"/>
          </span>
        </label>
        <xsl:if test="$count &gt; 0">
          <span class="qx-panel-tools">
            <button type="button" class="qx-link" data-action="select-all" data-text="all">All</button>
            <button type="button" class="qx-link" data-action="select-none" data-text="none">None</button>
          </span>
        </xsl:if>
      </div>
      <xsl:choose>
        <xsl:when test="$count &gt; 0">
          <xsl:apply-templates select="$root[self::frame]" mode="group">
            <xsl:with-param name="kind" select="$kind"/>
            <xsl:with-param name="on" select="$on"/>
            <xsl:with-param name="depth" select="0"/>
          </xsl:apply-templates>
        </xsl:when>
        <xsl:otherwise>
          <p class="qx-empty">
            <xsl:attribute name="data-text"><xsl:value-of select="concat('empty-', $kind)"/></xsl:attribute>
            <xsl:value-of select="$emptyLabel"/>
          </p>
        </xsl:otherwise>
      </xsl:choose>
    </section>
  </xsl:template>

  <!-- A frame's items of one kind, then its own frames. -->
  <xsl:template match="frame" mode="group">
    <xsl:param name="kind"/>
    <xsl:param name="on"/>
    <xsl:param name="depth"/>
    <xsl:variable name="items"
      select="images/item[$kind = 'pictures']
            | objects/flashes/item[$kind = 'flash']
            | objects/qts/item[$kind = 'quicktime']
            | objects/rps/item[$kind = 'realplayer']
            | objects/mps/item[$kind = 'mediaplayer']
            | css/item[$kind = 'stylesheets']
            | scripts/item[$kind = 'scripts']"/>
    <xsl:if test="$items">
      <div class="qx-group">
        <xsl:attribute name="style">
          <xsl:value-of select="concat('--qx-depth:', $depth)"/>
        </xsl:attribute>
        <div class="qx-group-head">
          <label class="qx-check qx-group-check" title="All in this frame">
            <input type="checkbox" class="qx-group-pick"/>
          </label>
          <span class="qx-frame-kind">
            <xsl:choose>
              <xsl:when test="$depth = 0"><xsl:attribute name="data-text">page</xsl:attribute>Page</xsl:when>
              <xsl:when test="@iframe"><xsl:attribute name="data-text">iframe</xsl:attribute>Inline frame</xsl:when>
              <xsl:otherwise><xsl:attribute name="data-text">frame</xsl:attribute>Frame</xsl:otherwise>
            </xsl:choose>
          </span>
          <xsl:call-template name="address">
            <xsl:with-param name="url" select="string(@src)"/>
            <xsl:with-param name="class" select="'qx-frame-url'"/>
          </xsl:call-template>
          <span class="qx-count"><xsl:value-of select="count($items)"/></span>
        </div>
        <ul>
          <xsl:attribute name="class">
            <xsl:choose>
              <xsl:when test="$kind = 'pictures'">qx-items qx-grid</xsl:when>
              <xsl:otherwise>qx-items qx-rows</xsl:otherwise>
            </xsl:choose>
          </xsl:attribute>
          <xsl:apply-templates select="$items" mode="row">
            <xsl:with-param name="kind" select="$kind"/>
            <xsl:with-param name="on" select="$on"/>
          </xsl:apply-templates>
        </ul>
      </div>
    </xsl:if>
    <xsl:apply-templates select="frame" mode="group">
      <xsl:with-param name="kind" select="$kind"/>
      <xsl:with-param name="on" select="$on"/>
      <xsl:with-param name="depth" select="$depth + 1"/>
    </xsl:apply-templates>
  </xsl:template>

  <!-- One resource. Only addresses the download engine can fetch get a check box. -->
  <xsl:template match="item" mode="row">
    <xsl:param name="kind"/>
    <xsl:param name="on"/>
    <xsl:variable name="src" select="string(@src)"/>
    <xsl:variable name="scheme" select="translate(substring-before($src, ':'), $upper, $lower)"/>
    <xsl:variable name="saveable"
      select="$scheme = 'http' or $scheme = 'https' or $scheme = 'ftp' or $scheme = 'file' or $scheme = 'mms'"/>
    <li class="qx-item">
      <xsl:choose>
        <xsl:when test="$saveable">
          <xsl:attribute name="data-url"><xsl:value-of select="$src"/></xsl:attribute>
          <xsl:attribute name="data-type"><xsl:value-of select="$kind"/></xsl:attribute>
        </xsl:when>
        <xsl:otherwise>
          <xsl:attribute name="data-unsaveable">1</xsl:attribute>
        </xsl:otherwise>
      </xsl:choose>
      <label class="qx-item-body">
        <xsl:choose>
          <xsl:when test="$saveable">
            <input type="checkbox" class="qx-pick">
              <xsl:choose>
                <xsl:when test="not($on)"><xsl:attribute name="disabled">disabled</xsl:attribute></xsl:when>
                <xsl:when test="$selectAll"><xsl:attribute name="checked">checked</xsl:attribute></xsl:when>
              </xsl:choose>
            </input>
          </xsl:when>
          <xsl:otherwise><span class="qx-pick-none"></span></xsl:otherwise>
        </xsl:choose>
        <xsl:if test="$kind = 'pictures'">
          <span class="qx-thumb">
            <xsl:if test="$scheme = 'http' or $scheme = 'https' or $scheme = 'file'">
              <img loading="lazy" decoding="async" referrerpolicy="no-referrer" alt="" width="96" height="72">
                <xsl:attribute name="src"><xsl:value-of select="$src"/></xsl:attribute>
              </img>
            </xsl:if>
          </span>
        </xsl:if>
        <span class="qx-item-text">
          <span class="qx-name">
            <xsl:attribute name="title"><xsl:value-of select="$src"/></xsl:attribute>
            <xsl:choose>
              <xsl:when test="$src = ''">
                <xsl:attribute name="data-text">inline</xsl:attribute>
                <xsl:text>Inline</xsl:text>
              </xsl:when>
              <xsl:otherwise>
                <xsl:call-template name="file-name">
                  <xsl:with-param name="url" select="$src"/>
                </xsl:call-template>
              </xsl:otherwise>
            </xsl:choose>
          </span>
          <span class="qx-meta">
            <xsl:call-template name="meta">
              <xsl:with-param name="kind" select="$kind"/>
              <xsl:with-param name="saveable" select="$saveable"/>
            </xsl:call-template>
          </span>
          <xsl:if test="$kind != 'pictures' and $src != ''">
            <xsl:call-template name="address">
              <xsl:with-param name="url" select="$src"/>
              <xsl:with-param name="class" select="'qx-url'"/>
            </xsl:call-template>
          </xsl:if>
          <xsl:call-template name="preview"/>
        </span>
      </label>
      <span class="qx-status"></span>
    </li>
  </xsl:template>

  <!-- Dimensions, size and type of a picture; text size of a script or
       stylesheet; why a resource has no check box. -->
  <xsl:template name="meta">
    <xsl:param name="kind"/>
    <xsl:param name="saveable"/>
    <xsl:if test="$kind = 'pictures'">
      <xsl:if test="@width and @height">
        <span class="qx-dim"><xsl:value-of select="concat(@width, ' &#215; ', @height)"/></span>
      </xsl:if>
      <xsl:if test="@size">
        <span class="qx-size">
          <xsl:call-template name="bytes">
            <xsl:with-param name="n" select="number(@size)"/>
          </xsl:call-template>
        </span>
      </xsl:if>
      <xsl:if test="@mime">
        <span class="qx-mime"><xsl:value-of select="@mime"/></span>
      </xsl:if>
    </xsl:if>
    <xsl:if test="$kind = 'scripts' or $kind = 'stylesheets'">
      <xsl:variable name="length">
        <xsl:choose>
          <xsl:when test="@length"><xsl:value-of select="@length"/></xsl:when>
          <xsl:otherwise><xsl:value-of select="string-length(.)"/></xsl:otherwise>
        </xsl:choose>
      </xsl:variable>
      <xsl:if test="number($length) &gt; 0">
        <span class="qx-size">
          <xsl:call-template name="bytes">
            <xsl:with-param name="n" select="number($length)"/>
            <xsl:with-param name="unit" select="' characters'"/>
          </xsl:call-template>
        </span>
      </xsl:if>
    </xsl:if>
    <xsl:choose>
      <xsl:when test="$saveable"/>
      <xsl:when test="string(@src) = '' and ($kind = 'scripts' or $kind = 'stylesheets')">
        <span class="qx-note" data-text="inPage">in the page</span>
      </xsl:when>
      <xsl:when test="string(@src) = ''">
        <span class="qx-note" data-text="noAddress">no address</span>
      </xsl:when>
      <xsl:otherwise>
        <span class="qx-note" data-text="cannotSave">cannot be saved</span>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- The start of inline text, shown as text and nothing else. -->
  <xsl:template name="preview">
    <xsl:variable name="text">
      <xsl:choose>
        <xsl:when test="@preview"><xsl:value-of select="@preview"/></xsl:when>
        <xsl:when test="self::item[parent::scripts or parent::css]">
          <xsl:value-of select="normalize-space(substring(., 1, 240))"/>
        </xsl:when>
      </xsl:choose>
    </xsl:variable>
    <xsl:if test="string($text) != ''">
      <code class="qx-preview"><xsl:value-of select="substring($text, 1, 160)"/></code>
    </xsl:if>
  </xsl:template>

  <!-- An address as a link when its scheme is one a user can open, else as text. -->
  <xsl:template name="address">
    <xsl:param name="url"/>
    <xsl:param name="class"/>
    <xsl:variable name="l" select="translate(substring($url, 1, 8), $upper, $lower)"/>
    <xsl:choose>
      <xsl:when test="starts-with($l, 'http://') or starts-with($l, 'https://') or starts-with($l, 'ftp://') or starts-with($l, 'file:') or starts-with($l, 'mms://')">
        <a target="_blank" rel="noopener noreferrer" referrerpolicy="no-referrer">
          <xsl:attribute name="class"><xsl:value-of select="$class"/></xsl:attribute>
          <xsl:attribute name="href"><xsl:value-of select="$url"/></xsl:attribute>
          <xsl:attribute name="title"><xsl:value-of select="$url"/></xsl:attribute>
          <xsl:value-of select="$url"/>
        </a>
      </xsl:when>
      <xsl:otherwise>
        <span>
          <xsl:attribute name="class"><xsl:value-of select="$class"/></xsl:attribute>
          <xsl:attribute name="title"><xsl:value-of select="$url"/></xsl:attribute>
          <xsl:value-of select="$url"/>
        </span>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- A byte (or character) count for people: 812 B, 4.2 KB, 1.3 MB. -->
  <xsl:template name="bytes">
    <xsl:param name="n"/>
    <xsl:param name="unit" select="''"/>
    <xsl:choose>
      <xsl:when test="string($n) = 'NaN' or $n &lt; 0"/>
      <xsl:when test="$unit != ''">
        <xsl:value-of select="concat(format-number($n, '#,##0'), $unit)"/>
      </xsl:when>
      <xsl:when test="$n &lt; 1024">
        <xsl:value-of select="concat(format-number($n, '0'), ' B')"/>
      </xsl:when>
      <xsl:when test="$n &lt; 1048576">
        <xsl:value-of select="concat(format-number($n div 1024, '0.#'), ' KB')"/>
      </xsl:when>
      <xsl:when test="$n &lt; 1073741824">
        <xsl:value-of select="concat(format-number($n div 1048576, '0.#'), ' MB')"/>
      </xsl:when>
      <xsl:otherwise>
        <xsl:value-of select="concat(format-number($n div 1073741824, '0.#'), ' GB')"/>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- The last path segment of an address, without query or fragment. Only
       the last 200 characters of the path are looked at, which bounds the
       recursion whatever the page sends. -->
  <xsl:template name="file-name">
    <xsl:param name="url"/>
    <xsl:variable name="noFragment" select="substring-before(concat($url, '#'), '#')"/>
    <xsl:variable name="path" select="substring-before(concat($noFragment, '?'), '?')"/>
    <xsl:variable name="tail" select="substring($path, string-length($path) - 199)"/>
    <xsl:variable name="trimmed">
      <xsl:choose>
        <xsl:when test="substring($tail, string-length($tail)) = '/'">
          <xsl:value-of select="substring($tail, 1, string-length($tail) - 1)"/>
        </xsl:when>
        <xsl:otherwise><xsl:value-of select="$tail"/></xsl:otherwise>
      </xsl:choose>
    </xsl:variable>
    <xsl:variable name="name">
      <xsl:call-template name="last-segment">
        <xsl:with-param name="s" select="string($trimmed)"/>
      </xsl:call-template>
    </xsl:variable>
    <xsl:choose>
      <xsl:when test="string($name) != ''"><xsl:value-of select="$name"/></xsl:when>
      <xsl:otherwise><xsl:value-of select="$url"/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <xsl:template name="last-segment">
    <xsl:param name="s"/>
    <xsl:choose>
      <xsl:when test="contains($s, '/')">
        <xsl:call-template name="last-segment">
          <xsl:with-param name="s" select="substring-after($s, '/')"/>
        </xsl:call-template>
      </xsl:when>
      <xsl:otherwise><xsl:value-of select="$s"/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>
</xsl:stylesheet>
