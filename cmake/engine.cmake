# The exact-kinetics engine: SUNDIALS CVODE on the model's rate laws
# (src/engine, the library tolvanex_engine) and its Python module
# tolvanex._engine (src/bindings). Optional: the two programs never link it
# and build without SUNDIALS or pybind11.
#
#   TOLVANEX_ENGINE=AUTO  built when SUNDIALS 6 (libsundials-dev), pybind11
#                         (pybind11-dev, python3-pybind11) and the Python
#                         headers (python3-dev) are found, else left out with
#                         a message (the default)
#   TOLVANEX_ENGINE=ON    the same, but a missing package stops the configure
#   TOLVANEX_ENGINE=OFF   not built
#
# The module lands in BUILD/python/tolvanex/, where the package looks for it
# from a source tree; cmake/install.cmake installs it beside the package. With the
# sanitizers only the library and its tests are built: a sanitized extension
# cannot load into a plain interpreter.
set(TOLVANEX_ENGINE AUTO CACHE STRING "Build the CVODE engine and its Python module: AUTO, ON or OFF")
set_property(CACHE TOLVANEX_ENGINE PROPERTY STRINGS AUTO ON OFF)
set(TOLVANEX_ENGINE_BUILT OFF)
set(TOLVANEX_ENGINE_MODULE_BUILT OFF)

function(tolvanex_engine_missing what left_out)
  if(TOLVANEX_ENGINE STREQUAL "ON")
    message(FATAL_ERROR "TOLVANEX_ENGINE=ON: ${what}")
  endif()
  message(STATUS "tolvanex: ${what}; ${left_out} is left out")
endfunction()

if(NOT TOLVANEX_ENGINE STREQUAL "OFF")
  find_package(SUNDIALS 6 CONFIG QUIET COMPONENTS cvode nvecserial sunmatrixdense sunlinsoldense)
  if(NOT SUNDIALS_FOUND)
    tolvanex_engine_missing("SUNDIALS 6 with CVODE not found (Debian: libsundials-dev)"
                            "the exact-kinetics engine")
  else()
    # The model and set-up sources compiled again, position-independent, so
    # that the engine can go into a shared module; the programs' own objects
    # stay as they are.
    add_library(tolvanex_engine STATIC
      src/engine/solve_request.cpp
      src/engine/temperature_constants.cpp
      src/engine/state_layout.cpp
      src/engine/rate_equations.cpp
      src/engine/cvode_solve.cpp
      src/setup/run_parameters.cpp
      src/setup/rate_table.cpp
      src/model/species_state.cpp
      src/model/speciation.cpp
      src/model/reaction_network.cpp
    )
    set_target_properties(tolvanex_engine PROPERTIES POSITION_INDEPENDENT_CODE ON)
    target_include_directories(tolvanex_engine PUBLIC src)
    target_link_libraries(tolvanex_engine PUBLIC
      SUNDIALS::cvode SUNDIALS::nvecserial SUNDIALS::sunmatrixdense SUNDIALS::sunlinsoldense)
    set(TOLVANEX_ENGINE_BUILT ON)

    if(TOLVANEX_SANITIZE)
      message(STATUS "tolvanex: the engine's Python module is not built with the sanitizers")
    else()
      set(Python_EXECUTABLE ${TOLVANEX_PYTHON})
      find_package(Python 3.6 QUIET COMPONENTS Interpreter Development.Module)
      if(Python_FOUND)
        set(PYBIND11_FINDPYTHON ON)
        find_package(pybind11 2.6 CONFIG QUIET)
      endif()
      if(NOT Python_FOUND)
        tolvanex_engine_missing("the headers of ${TOLVANEX_PYTHON} not found (Debian: python3-dev)"
                                "the engine's Python module")
      elseif(NOT pybind11_FOUND)
        tolvanex_engine_missing("pybind11 not found (Debian: pybind11-dev python3-pybind11)"
                                "the engine's Python module")
      else()
        pybind11_add_module(tolvanex_engine_module MODULE NO_EXTRAS src/bindings/engine_module.cpp)
        set_target_properties(tolvanex_engine_module PROPERTIES
          OUTPUT_NAME _engine LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/python/tolvanex)
        target_link_libraries(tolvanex_engine_module PRIVATE tolvanex_engine)
        set(TOLVANEX_ENGINE_MODULE_BUILT ON)
      endif()
    endif()
  endif()
endif()
