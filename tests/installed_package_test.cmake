# Installs the build into a fresh prefix and uses it as a user would: splits
# an image with the installed tool and rebuilds it with the installed
# rebuild_logo_image; builds the example client with the CMake package and
# again with pkg-config, and runs it where one directory has no image.
#
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -DCXX_COMPILER=...
#         -P installed_package_test.cmake
cmake_minimum_required(VERSION 3.20)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result
                  OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed (${result}): ${ARGN}\n${output}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(installed bin/parse_logo_bin bin/rebuild_logo_image
        include/parse_logo_bin.hpp share/man/man1/parse_logo_bin.1
        share/man/man1/rebuild_logo_image.1)
  if(NOT EXISTS ${prefix}/${installed})
    message(FATAL_ERROR "not installed: ${installed}")
  endif()
endforeach()

# The two commands: a round trip.
set(run_dir ${WORK_DIR}/run)
file(MAKE_DIRECTORY ${run_dir})
set(image "0123456789abcdef, then the body of the logo image")
file(WRITE ${run_dir}/logo_no_compressed.bin "${image}")
execute_process(COMMAND ${prefix}/bin/parse_logo_bin
                WORKING_DIRECTORY ${run_dir} RESULT_VARIABLE result)
file(READ ${run_dir}/logo_no_compressed_header.bin header)
if(NOT result EQUAL 0 OR NOT header STREQUAL "0123456789abcdef")
  message(FATAL_ERROR "the installed tool did not split the image")
endif()
execute_process(COMMAND ${prefix}/bin/rebuild_logo_image
                WORKING_DIRECTORY ${run_dir} RESULT_VARIABLE result
                OUTPUT_VARIABLE notices)
file(READ ${run_dir}/logo_no_compressed.bin rebuilt)
set(expected_notices "merge file0_name:logo_no_compressed_header.bin")
string(APPEND expected_notices "merge file1_name:logo_no_compressed.bin\n")
if(NOT result EQUAL 0 OR NOT rebuilt STREQUAL image OR
   NOT notices STREQUAL expected_notices OR
   EXISTS ${run_dir}/logo_no_compressed_header.bin)
  message(FATAL_ERROR "rebuild_logo_image did not rebuild it: ${notices}")
endif()

# The example client, built with the CMake package and with pkg-config.
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/split_images
    -B ${WORK_DIR}/cmake_client -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake_client)
find_program(PKG_CONFIG NAMES pkg-config pkgconf)
set(clients ${WORK_DIR}/cmake_client/split_images)
if(PKG_CONFIG)
  file(GLOB pc_dirs ${prefix}/lib*/pkgconfig ${prefix}/lib/*/pkgconfig)
  set(ENV{PKG_CONFIG_PATH} "${pc_dirs}")
  execute_process(COMMAND ${PKG_CONFIG} --cflags --libs parse_logo_bin
                  RESULT_VARIABLE result OUTPUT_VARIABLE flags
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "pkg-config does not find parse_logo_bin")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  run(${CXX_COMPILER} -std=c++17
      ${SOURCE_DIR}/examples/split_images/split_images.cc ${flags}
      -o ${WORK_DIR}/pkg_config_client)
  list(APPEND clients ${WORK_DIR}/pkg_config_client)
else()
  message("pkg-config is not installed: the .pc file is not used")
endif()

# Each client goes on past a directory without an image, splits the other
# and rebuilds it.
file(MAKE_DIRECTORY ${WORK_DIR}/empty)
foreach(client ${clients})
  execute_process(COMMAND ${client} ${WORK_DIR}/empty ${run_dir}
                  RESULT_VARIABLE result ERROR_VARIABLE errors)
  file(READ ${run_dir}/logo_no_compressed_header.bin header)
  if(NOT result EQUAL 1 OR NOT header STREQUAL "0123456789abcdef" OR
     NOT errors MATCHES "No such file or directory")
    message(FATAL_ERROR "${client} did not go on: ${errors}")
  endif()
  run(${client} --rebuild ${run_dir})
  file(READ ${run_dir}/logo_no_compressed.bin rebuilt)
  if(NOT rebuilt STREQUAL image)
    message(FATAL_ERROR "${client} did not rebuild the image")
  endif()
endforeach()
file(REMOVE_RECURSE ${WORK_DIR})
