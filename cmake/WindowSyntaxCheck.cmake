# Compiles the window's sources for Windows without generating code (-fsyntax-only), against
# the Qt 6 headers in OSTREL_QT_HEADERS (Debian's Linux headers do: the window uses no
# platform-specific part of Qt). Target check_window_sources, part of the default build; each
# file is checked again when it or a header it includes changes.
file(GLOB OSTREL_WINDOW_CHECK_SOURCES CONFIGURE_DEPENDS
    ${CMAKE_SOURCE_DIR}/src/main/*.cpp ${CMAKE_SOURCE_DIR}/src/config/qt/*.cpp ${CMAKE_SOURCE_DIR}/src/widgets/*.cpp)

set(OSTREL_WINDOW_CHECK_FLAGS -std=c++20 -Wall -Wextra
    # Linux Qt headers declare their exports for a shared Linux library; mingw then warns on
    # every friend redeclared without dllimport. Qt's own Windows headers do not have that.
    -Wno-attributes
    -DQT_CORE_LIB -DQT_GUI_LIB -DQT_WIDGETS_LIB -DQT_NO_DEBUG)
foreach(module "" QtCore QtGui QtWidgets)
    list(APPEND OSTREL_WINDOW_CHECK_FLAGS -isystem ${OSTREL_QT_HEADERS}/${module})
endforeach()
# The core's headers and its dependencies' (curl, MariaDB, JSON), as the core's users see them.
set(OSTREL_CORE_INCLUDES "$<TARGET_PROPERTY:rdp_ostrel_core,INTERFACE_INCLUDE_DIRECTORIES>")
set(OSTREL_CORE_DEFINITIONS "$<TARGET_PROPERTY:rdp_ostrel_core,INTERFACE_COMPILE_DEFINITIONS>")

set(OSTREL_WINDOW_CHECK_STAMPS)
foreach(source ${OSTREL_WINDOW_CHECK_SOURCES})
    file(RELATIVE_PATH name ${CMAKE_SOURCE_DIR}/src ${source})
    set(stamp ${CMAKE_BINARY_DIR}/window-check/${name}.checked)
    get_filename_component(stampDir ${stamp} DIRECTORY)
    file(MAKE_DIRECTORY ${stampDir})
    add_custom_command(OUTPUT ${stamp}
        COMMAND ${CMAKE_CXX_COMPILER} ${OSTREL_WINDOW_CHECK_FLAGS}
                "$<$<BOOL:${OSTREL_CORE_INCLUDES}>:-I$<JOIN:${OSTREL_CORE_INCLUDES},;-I>>"
                "$<$<BOOL:${OSTREL_CORE_DEFINITIONS}>:-D$<JOIN:${OSTREL_CORE_DEFINITIONS},;-D>>"
                -fsyntax-only -MD -MF ${stamp}.d -MT ${stamp} ${source}
        COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
        DEPENDS ${source}
        DEPFILE ${stamp}.d
        COMMAND_EXPAND_LISTS
        COMMENT "Checking ${name} for Windows (syntax only)"
        VERBATIM)
    list(APPEND OSTREL_WINDOW_CHECK_STAMPS ${stamp})
endforeach()
add_custom_target(check_window_sources ALL DEPENDS ${OSTREL_WINDOW_CHECK_STAMPS})
