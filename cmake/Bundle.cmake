# The bundle's Info.json, generated from cache options so that a white-label build can set them
# (-DTW_CONDUCTOR_URL=...). The build tree holds a bundle laid out like an installed one
# (<build>/lib/tarnwick next to <build>/bin), so programs run from the build tree find it.
set(TW_BUNDLE_IDENTIFIER "com.tarnwick.desktop" CACHE STRING "Bundle identifier")
set(TW_BUNDLE_NAME "Tarnwick" CACHE STRING "Bundle name")
set(TW_BUNDLE_DISPLAY_NAME "Tarnwick" CACHE STRING "Name shown to the user")
set(TW_CONDUCTOR_URL "" CACHE STRING "Coordination server passed to the daemon; empty for its default")
set(TW_SIGNAL_URL "" CACHE STRING "Signalling server passed to the daemon; empty for its default")
set(TW_HOME_PAGE_URL "https://tarnwick.example/" CACHE STRING "Product home page")
set(TW_DOCS_PAGE_URL "https://tarnwick.example/docs/" CACHE STRING "Product documentation")
set(TW_UPDATE_FEED_URL "" CACHE STRING "Appcast feed of releases; empty disables update checks")

# Keys whose absence means "use the default" are left out when empty.
set(TW_INFO_OPTIONAL_KEYS "")
foreach(pair "TWConductorURL=TW_CONDUCTOR_URL" "TWSignalURL=TW_SIGNAL_URL")
  string(REPLACE "=" ";" pair "${pair}")
  list(GET pair 0 key)
  list(GET pair 1 var)
  if(NOT "${${var}}" STREQUAL "")
    string(APPEND TW_INFO_OPTIONAL_KEYS "\"${key}\": \"${${var}}\",\n  ")
  endif()
endforeach()

set(TW_BUNDLE_DIR ${CMAKE_BINARY_DIR}/lib/tarnwick)
configure_file(${CMAKE_CURRENT_LIST_DIR}/Info.json.in ${TW_BUNDLE_DIR}/Info.json @ONLY)
file(MAKE_DIRECTORY ${TW_BUNDLE_DIR}/Resources ${TW_BUNDLE_DIR}/Library/SystemExtensions
     ${TW_BUNDLE_DIR}/Library/LaunchDaemons)
install(FILES ${TW_BUNDLE_DIR}/Info.json DESTINATION lib/tarnwick)

# Copies a built program into the bundle's Resources folder.
function(tw_bundle_resource target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${target}> ${TW_BUNDLE_DIR}/Resources/
    VERBATIM)
endfunction()

# The status-bar icon asset "menu_icon": in the bundle for runs from the build tree, and as a
# symbolic icon in the hicolor theme, which tray hosts recolour for their bar.
set(TW_MENU_ICON ${PROJECT_SOURCE_DIR}/packaging/icons/menu_icon.svg)
set(TW_MENU_ICON_THEME_NAME "com.tarnwick.desktop-symbolic")
configure_file(${TW_MENU_ICON} ${TW_BUNDLE_DIR}/Resources/menu_icon.svg COPYONLY)
install(FILES ${TW_MENU_ICON} DESTINATION lib/tarnwick/Resources)
install(FILES ${TW_MENU_ICON} DESTINATION share/icons/hicolor/scalable/status
        RENAME ${TW_MENU_ICON_THEME_NAME}.svg)
