# Installs the programs as a user would, with every location outside the
# build: configures a separate build of the source tree whose data root,
# web root, placeholder folder and earlier template folder lie under a
# temporary folder, builds the three programs, installs them into a
# temporary prefix, checks what the install made and what it kept, and runs
# the installed vosk2.
#
#   cmake -DSOURCE_DIR=<source tree> -DWORK_DIR=<scratch folder>
#         [-DGENERATOR=<generator>] -P install_test.cmake
cmake_minimum_required(VERSION 3.20)

function(fail text)
  message(FATAL_ERROR "install test: ${text}")
endfunction()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    fail("${ARGN} exited with ${rc}\n${out}\n${err}")
  endif()
endfunction()

function(expect_file path)
  if(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
    fail("missing file ${path}")
  endif()
endfunction()

function(expect_dir path)
  if(NOT IS_DIRECTORY "${path}")
    fail("missing folder ${path}")
  endif()
endfunction()

function(expect_content path expected)
  expect_file("${path}")
  file(READ "${path}" got)
  if(NOT got STREQUAL expected)
    fail("${path} holds \"${got}\", expected \"${expected}\"")
  endif()
endfunction()

if(NOT SOURCE_DIR OR NOT WORK_DIR)
  fail("SOURCE_DIR and WORK_DIR must be given")
endif()
if(NOT GENERATOR)
  set(GENERATOR "Unix Makefiles")
endif()

set(build "${WORK_DIR}/build")
set(prefix "${WORK_DIR}/prefix")
set(data "${WORK_DIR}/srv/craq/data/")
set(web "${WORK_DIR}/var/www/craq/")
set(placeholder "${WORK_DIR}/var/www/craq/placeholder")  # no trailing '/': one is added
set(templates "${WORK_DIR}/srv/craq/vosk_templates/")
file(REMOVE_RECURSE "${WORK_DIR}/srv" "${WORK_DIR}/var" "${prefix}" "${WORK_DIR}/stage")

# ---- configure and build: the locations are the install's to create ----
run("${CMAKE_COMMAND}" -S "${SOURCE_DIR}" -B "${build}" -G "${GENERATOR}"
    -DCMAKE_BUILD_TYPE=Release -DCRAQ_BENCHMARKS=OFF
    "-DCRAQ_DATA_ROOT=${data}" "-DCRAQ_WEB_ROOT=${web}"
    "-DCRAQ_PLACEHOLDER_DIR=${placeholder}" "-DCRAQ_EARLIER_TEMPLATE_DIR=${templates}")
foreach(dir "${WORK_DIR}/srv" "${WORK_DIR}/var")
  if(EXISTS "${dir}")
    fail("configuring created ${dir}: only the install creates locations outside the build")
  endif()
endforeach()

# The image map's default address names the front end's query page.
file(STRINGS "${build}/CMakeCache.txt" page REGEX "^CRAQ_QUERY_PAGE:")
if(NOT page STREQUAL "CRAQ_QUERY_PAGE:STRING=http://localhost/analyse_query.php")
  fail("default query page: ${page}")
endif()

run("${CMAKE_COMMAND}" --build "${build}" --parallel 4 --target vosk2 pelko vosk)

# ---- a collection and a template set stored before the install ----
set(image "${WORK_DIR}/images/a.jpg")
file(REMOVE_RECURSE "${WORK_DIR}/images")
configure_file("${SOURCE_DIR}/assets/dummy.jpg" "${image}" COPYONLY)
file(WRITE "${data}FVC/fvc_a.dat"
     "${image}\n90 120\n1 2 3 4 1.0000 0.7000 0.1000 0.1000 0.1000\n")
file(WRITE "${templates}feature_map.dat" "trained\n")

# ---- install ----
run("${CMAKE_COMMAND}" --install "${build}" --prefix "${prefix}")

file(GLOB_RECURSE installed RELATIVE "${prefix}" "${prefix}/*")
list(SORT installed)
if(NOT installed STREQUAL "bin/pelko;bin/vosk;bin/vosk2")
  fail("the prefix holds ${installed}, not the three programs in bin/")
endif()
foreach(sub FV FVC TEMP CL)
  expect_dir("${data}${sub}")
endforeach()
foreach(sub lib_0/metadata lib_0/thumbnail lib_0/analyse lib_0/analyse_image)
  expect_dir("${web}${sub}")
endforeach()
expect_dir("${templates}")
file(SHA256 "${SOURCE_DIR}/assets/dummy.jpg" want)
file(SHA256 "${placeholder}/dummy.jpg" got)
if(NOT got STREQUAL want)
  fail("${placeholder}/dummy.jpg is not the placeholder image")
endif()
expect_content("${data}FVC/fvc_a.dat"
               "${image}\n90 120\n1 2 3 4 1.0000 0.7000 0.1000 0.1000 0.1000\n")
expect_content("${templates}feature_map.dat" "trained\n")

# ---- the installed vosk2 runs with the configured locations ----
execute_process(COMMAND "${prefix}/bin/vosk2" RESULT_VARIABLE rc OUTPUT_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT out MATCHES "content based retrieval of craquelure patterns")
  fail("installed vosk2 without arguments: status ${rc}\n${out}")
endif()
execute_process(COMMAND "${prefix}/bin/vosk2" -queryType 1 WORKING_DIRECTORY "${WORK_DIR}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(FIND "${out}" "Source:${image},  Region:[1 + 3, 2 + 4] - Score:0.3000, Rank = 1\n" at)
if(NOT rc EQUAL 0 OR at EQUAL -1)
  fail("installed vosk2 -queryType 1: status ${rc}\n${out}\n${err}")
endif()
file(SHA256 "${web}lib_0/thumbnail/001.jpg" got)
if(NOT got STREQUAL want)
  fail("the result's copy is not in ${web}lib_0/thumbnail/")
endif()
expect_file("${web}lib_0/metadata/001.txt")

# ---- a reinstall keeps what is there ----
file(WRITE "${placeholder}/dummy.jpg" "the site's own placeholder")
file(WRITE "${data}CL/feature_label.dat" "labels\n")
run("${CMAKE_COMMAND}" --install "${build}" --prefix "${prefix}")
expect_content("${placeholder}/dummy.jpg" "the site's own placeholder")
expect_content("${data}CL/feature_label.dat" "labels\n")
expect_content("${data}FVC/fvc_a.dat"
               "${image}\n90 120\n1 2 3 4 1.0000 0.7000 0.1000 0.1000 0.1000\n")
expect_content("${templates}feature_map.dat" "trained\n")
expect_file("${web}lib_0/thumbnail/001.jpg")

# ---- a staged install (DESTDIR) puts everything below the stage ----
set(stage "${WORK_DIR}/stage")
file(REMOVE_RECURSE "${stage}")
run("${CMAKE_COMMAND}" -E env "DESTDIR=${stage}"
    "${CMAKE_COMMAND}" --install "${build}" --prefix /opt/craq)
expect_file("${stage}/opt/craq/bin/vosk2")
expect_dir("${stage}${data}TEMP")
expect_dir("${stage}${web}lib_0/analyse_image")
expect_dir("${stage}${templates}")
file(SHA256 "${stage}${placeholder}/dummy.jpg" got)
if(NOT got STREQUAL want)
  fail("the staged placeholder is not the placeholder image")
endif()
