# Installs the build into a fresh prefix, builds the example clients against
# the installed package, then splits an image with the installed tool and
# rebuilds it with one client; and splits and rebuilds it with the other,
# which goes on past a directory without an image.
#
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=...
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
foreach(installed bin/parse_logo_bin include/parse_logo_bin.hpp)
  if(NOT EXISTS ${prefix}/${installed})
    message(FATAL_ERROR "not installed: ${installed}")
  endif()
endforeach()

run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/rebuild_image
    -B ${WORK_DIR}/client -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/client)
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/split_images
    -B ${WORK_DIR}/library_client -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/library_client)

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

execute_process(COMMAND ${WORK_DIR}/client/rebuild_logo_image
                WORKING_DIRECTORY ${run_dir} RESULT_VARIABLE result
                OUTPUT_VARIABLE notices)
file(READ ${run_dir}/logo_no_compressed.bin rebuilt)
set(expected_notices "merge file0_name:logo_no_compressed_header.bin")
string(APPEND expected_notices "merge file1_name:logo_no_compressed.bin\n")
if(NOT result EQUAL 0 OR NOT rebuilt STREQUAL image OR
   NOT notices STREQUAL expected_notices OR
   EXISTS ${run_dir}/logo_no_compressed_header.bin)
  message(FATAL_ERROR "the client did not rebuild the image: ${notices}")
endif()

# The library client: a missing image in one directory is reported, and the
# other directory is split all the same, then rebuilt.
file(MAKE_DIRECTORY ${WORK_DIR}/empty)
execute_process(COMMAND ${WORK_DIR}/library_client/split_images
                        ${WORK_DIR}/empty ${run_dir}
                RESULT_VARIABLE result ERROR_VARIABLE errors)
file(READ ${run_dir}/logo_no_compressed_header.bin header)
if(NOT result EQUAL 1 OR NOT header STREQUAL "0123456789abcdef" OR
   NOT errors MATCHES "No such file or directory")
  message(FATAL_ERROR "the library client did not go on: ${errors}")
endif()
run(${WORK_DIR}/library_client/split_images --rebuild ${run_dir})
file(READ ${run_dir}/logo_no_compressed.bin rebuilt)
if(NOT rebuilt STREQUAL image)
  message(FATAL_ERROR "the library client did not rebuild the image")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
