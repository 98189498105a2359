# What `cmake --install build --prefix DIR` puts where:
#   DIR/bin                        tolvanex, tolvanex_unpruned and the tools
#   DIR/lib/tolvanex/python        the Python package the tools import, with
#                                  the engine's module tolvanex/_engine*.so
#                                  when the build has it (cmake/engine.cmake)
#   DIR/share/man/man1             tolvanex.1 (tolvanex_unpruned.1 points to it)
#   DIR/share/tolvanex/examples    the example argument files
#   DIR/share/doc/tolvanex         README.md and docs/ (the manual page points there)
# The tools look for the package in ../python (a source tree) and then in
# ../lib/tolvanex/python beside themselves, so these paths are fixed and
# do not follow GNUInstallDirs (whose lib/ may be lib/x86_64-linux-gnu).

# The Python package and the tools report the project's version.
file(STRINGS ${PROJECT_SOURCE_DIR}/python/tolvanex/__init__.py tolvanex_python_version
     REGEX "^__version__ = ")
string(REGEX REPLACE "^__version__ = \"([^\"]*)\".*" "\\1" tolvanex_python_version
       "${tolvanex_python_version}")
if(NOT tolvanex_python_version STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "python/tolvanex/__init__.py says __version__ = "
          "\"${tolvanex_python_version}\" but the project's version is ${PROJECT_VERSION}: "
          "make them the same")
endif()

install(TARGETS tolvanex tolvanex_unpruned RUNTIME DESTINATION bin)

file(GLOB tolvanex_tools CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tools/tolvanex-*)
install(PROGRAMS ${tolvanex_tools} DESTINATION bin)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/tolvanex DESTINATION lib/tolvanex/python
        FILES_MATCHING PATTERN "*.py" PATTERN "__pycache__" EXCLUDE)
if(TARGET tolvanex_engine_module)
  install(TARGETS tolvanex_engine_module LIBRARY DESTINATION lib/tolvanex/python/tolvanex)
endif()

file(WRITE ${PROJECT_BINARY_DIR}/tolvanex_unpruned.1 ".so man1/tolvanex.1\n")
install(FILES ${PROJECT_SOURCE_DIR}/man/tolvanex.1 ${PROJECT_BINARY_DIR}/tolvanex_unpruned.1
        DESTINATION share/man/man1)

file(GLOB tolvanex_examples CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/examples/*.args)
install(FILES ${tolvanex_examples} DESTINATION share/tolvanex/examples)

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION share/doc/tolvanex)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs DESTINATION share/doc/tolvanex)
