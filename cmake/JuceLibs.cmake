# JUCE modules compiled once into static libraries shared by every target.
# quillon_juce_core: juce_core alone (batch thread, command-line tool, their tests).
# quillon_juce_gui: the GUI modules with juce_core (the window and its tests).
# quillon_juce_headers: include paths and definitions only, for our libraries.

set(QUILLON_JUCE_DEFINITIONS
  JUCE_WEB_BROWSER=0
  JUCE_USE_CURL=0
  JUCE_MODAL_LOOPS_PERMITTED=1
  JUCE_GLOBAL_MODULE_SETTINGS_INCLUDED=1
  JUCE_DISPLAY_SPLASH_SCREEN=0
  JUCE_STANDALONE_APPLICATION=1)

add_library(quillon_juce_core STATIC)
target_link_libraries(quillon_juce_core
  PRIVATE juce::juce_core
  INTERFACE pthread dl rt)
target_compile_definitions(quillon_juce_core PUBLIC ${QUILLON_JUCE_DEFINITIONS})
target_include_directories(quillon_juce_core SYSTEM INTERFACE
  $<TARGET_PROPERTY:juce::juce_core,INTERFACE_INCLUDE_DIRECTORIES>)

add_library(quillon_juce_headers INTERFACE)
target_include_directories(quillon_juce_headers SYSTEM INTERFACE
  $<TARGET_PROPERTY:juce::juce_core,INTERFACE_INCLUDE_DIRECTORIES>)
target_compile_definitions(quillon_juce_headers INTERFACE ${QUILLON_JUCE_DEFINITIONS}
  $<TARGET_PROPERTY:juce::juce_core,INTERFACE_COMPILE_DEFINITIONS>)

# quillon_juce_gui: juce_gui_basics and its dependencies (juce_graphics,
# juce_events, juce_data_structures, juce_core) compiled once for the window
# and its tests. It holds juce_core too, so its users must not also link
# quillon_juce_core.
if(QUILLON_WITH_APP)
  set(QUILLON_JUCE_GUI_MODULES
    juce_core juce_events juce_data_structures juce_graphics juce_gui_basics)
  # Debian's JUCE decodes images with the system's libpng and libjpeg.
  pkg_check_modules(QUILLON_JUCE_IMAGE_LIBS REQUIRED IMPORTED_TARGET libpng libjpeg)
  add_library(quillon_juce_gui STATIC)
  target_link_libraries(quillon_juce_gui
    PRIVATE juce::juce_gui_basics
    INTERFACE PkgConfig::QUILLON_JUCE_IMAGE_LIBS pthread dl rt)
  target_compile_definitions(quillon_juce_gui PUBLIC ${QUILLON_JUCE_DEFINITIONS})
  foreach(module ${QUILLON_JUCE_GUI_MODULES})
    target_include_directories(quillon_juce_gui SYSTEM INTERFACE
      $<TARGET_PROPERTY:juce::${module},INTERFACE_INCLUDE_DIRECTORIES>)
    target_compile_definitions(quillon_juce_gui INTERFACE
      $<TARGET_PROPERTY:juce::${module},INTERFACE_COMPILE_DEFINITIONS>)
  endforeach()
endif()
