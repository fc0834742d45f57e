# The dialog's templates are kept readable in dialog/templates/ and stored
# in the library scrambled. A small host tool, built first, writes the
# scrambled forms into a generated source of the dialog library whenever a
# template changes. Included from the top CMakeLists.txt right after the
# dialog component, so that the custom command and the library share a
# directory scope.
add_executable(quillory_scramble_templates
  ${PROJECT_SOURCE_DIR}/dialog/tools/ScrambleTemplates.cpp
  ${PROJECT_SOURCE_DIR}/dialog/Scramble.cpp)
target_include_directories(quillory_scramble_templates PRIVATE ${PROJECT_SOURCE_DIR})

set(_quillory_templates ${PROJECT_SOURCE_DIR}/dialog/templates)
set(_quillory_templates_out ${PROJECT_BINARY_DIR}/generated/dialog/StoredTemplates.cpp)
add_custom_command(
  OUTPUT ${_quillory_templates_out}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/generated/dialog
  COMMAND quillory_scramble_templates ${_quillory_templates_out}
          ${_quillory_templates}/list.xsl:0x5A
          ${_quillory_templates}/dialog.html:0xC3
          ${_quillory_templates}/page.xsl:0x2D
  DEPENDS quillory_scramble_templates
          ${_quillory_templates}/list.xsl
          ${_quillory_templates}/dialog.html
          ${_quillory_templates}/page.xsl
  COMMENT "Scrambling the dialog templates"
  VERBATIM)
target_sources(dialog PRIVATE ${_quillory_templates_out})
