# The page snapshot script (extension/snapshot.js) is one file shared by the
# WebExtension and by the headless Chromium page loader. The loader carries
# it compiled in, generated here from the file whenever it changes, so the
# quillory program never depends on where the extension was installed.
# Included from the top CMakeLists.txt right after the platform_html
# component, so that the custom command and the library share a scope.
set(_quillory_snapshot_js ${PROJECT_SOURCE_DIR}/extension/snapshot.js)
set(_quillory_snapshot_out ${PROJECT_BINARY_DIR}/generated/extension/SnapshotScript.cpp)
add_custom_command(
  OUTPUT ${_quillory_snapshot_out}
  COMMAND ${CMAKE_COMMAND} -DIN=${_quillory_snapshot_js} -DOUT=${_quillory_snapshot_out}
          -P ${PROJECT_SOURCE_DIR}/extension/EmbedText.cmake
  DEPENDS ${_quillory_snapshot_js} ${PROJECT_SOURCE_DIR}/extension/EmbedText.cmake
  COMMENT "Embedding the page snapshot script"
  VERBATIM)
target_sources(platform_html PRIVATE ${_quillory_snapshot_out})
