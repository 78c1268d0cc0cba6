# Runs setupcheck on one folder and compares its output and exit status with what is expected.
#   -DCHECKER=program  -DEMULATOR=wine or empty  -DFOLDER=distribution folder
#   -DEXPECTED=file: optional "# args: ..." and "# exit: N" lines, then the exact output
#     (the exit status defaults to 1 when an error line is expected, else 0)
#   or -DEXPECT_REGEX=... with -DEXPECT_EXIT=N (matched against stdout and stderr together)
#   -DARGS="..." more arguments ("@/NAME" is the file NAME in FOLDER); -DGENERATE_LARGE=1 first writes a 10 MB SETUP.DAT into FOLDER
#   -DWRITE_SIZES=file: --write-sizes on a copy of FOLDER in WORK; its SETUP.DAT must then hold
#     exactly the bytes of file
#   -DINIT=1: --init on a tree of files made in WORK, whose SETUP.DAT must then check clean, and a
#     second --init must leave it alone
cmake_minimum_required(VERSION 3.20)
separate_arguments(args UNIX_COMMAND "${ARGS}")
set(expected_exit "${EXPECT_EXIT}")
if(EXPECTED)
  file(READ "${EXPECTED}" expected)
  while(expected MATCHES "^# ([a-z]+): ([^\n]*)\n")
    if(CMAKE_MATCH_1 STREQUAL "args")
      separate_arguments(more UNIX_COMMAND "${CMAKE_MATCH_2}")
      list(APPEND args ${more})
    elseif(CMAKE_MATCH_1 STREQUAL "exit")
      set(expected_exit "${CMAKE_MATCH_2}")
    endif()
    string(FIND "${expected}" "\n" newline)
    math(EXPR newline "${newline} + 1")
    string(SUBSTRING "${expected}" ${newline} -1 expected)
  endwhile()
  if(expected_exit STREQUAL "")
    if(expected MATCHES ": error: ")
      set(expected_exit 1)
    else()
      set(expected_exit 0)
    endif()
  endif()
endif()

if(GENERATE_LARGE)
  # A real distribution head, then one group line of 10 MB: the reader must cut it, not choke.
  string(REPEAT "x" 10485760 huge)
  file(MAKE_DIRECTORY "${FOLDER}")
  file(WRITE "${FOLDER}/SETUP.DAT" "[Version]\nSignature=\"$Chicago$\"\n[Strings]\nAPPNAME=Big\n"
    "EXENAME=Big\n[KVSetup]\nTitle=Big\nGroup1=Big.Files\nDescription1=Copying\n[Big.Files]\n"
    "${huge}\n[default_install]\nAddReg=R\n[R]\nHKCU,Software\\Big,Dir,,%65600%\n")
endif()

function(run_checker folder)
  if(EMULATOR)
    set(folder "Z:${folder}")
  endif()
  list(TRANSFORM ARGN REPLACE "^@/" "${folder}/")
  execute_process(COMMAND ${EMULATOR} "${CHECKER}" ${ARGN} "${folder}"
    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status TIMEOUT 300)
  string(REPLACE "\r" "" out "${out}")
  string(REPLACE "\r" "" err "${err}")
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
  set(status "${status}" PARENT_SCOPE)
endfunction()

if(WRITE_SIZES)
  file(REMOVE_RECURSE "${WORK}")
  file(COPY "${FOLDER}/" DESTINATION "${WORK}")
  run_checker("${WORK}" --write-sizes ${args})
  file(READ "${WORK}/SETUP.DAT" written HEX)
  file(READ "${WRITE_SIZES}" wanted HEX)
  if(NOT status EQUAL 0 OR NOT written STREQUAL wanted)
    file(READ "${WORK}/SETUP.DAT" text)
    message(FATAL_ERROR "exit status ${status}\n--- stderr:\n${err}--- SETUP.DAT now:\n${text}")
  endif()
  return()
endif()

if(INIT)
  # Names a group line must quote, double or rename, in folders of their own.
  file(REMOVE_RECURSE "${WORK}")
  foreach(name "App.exe" "readme.txt" "docs/Guide, v2.txt" "docs/Notes And More.txt"
      "data/levels/1.dat" "data/x;y=%1%.dat" "[odd].txt" "data/Z.TXT" "setup.exe" "sizes.txt"
      "uninstall.exe")
    file(WRITE "${WORK}/${name}" "${name}\n")
  endforeach()
  if(args MATCHES "--codepage") # names whose second bytes are a backslash or ASCII letters
    foreach(name "表/readme.txt" "ソフト/ソ.dat" "ア/a.txt" "ヂ/b.txt")
      file(WRITE "${WORK}/${name}" "${name}\n")
    endforeach()
  endif()
  run_checker("${WORK}" --init --app "Tree App" --exe App ${args})
  set(first "${status}: ${err}")
  run_checker("${WORK}" ${args})
  set(check "${status}: ${out}${err}")
  run_checker("${WORK}" --init --app "Tree App" --exe App ${args})
  if(NOT first STREQUAL "0: " OR NOT check STREQUAL "0: " OR NOT status EQUAL 1 OR
     NOT err MATCHES "already exists")
    file(READ "${WORK}/SETUP.DAT" text)
    message(FATAL_ERROR "--init: ${first}\ncheck: ${check}\nagain: ${status}: ${err}\n${text}")
  endif()
  return()
endif()

run_checker("${FOLDER}" ${args})

if(NOT status STREQUAL expected_exit)
  message(FATAL_ERROR "exit status ${status}, expected ${expected_exit}\n--- stdout:\n${out}--- stderr:\n${err}")
endif()
if(EXPECTED AND NOT out STREQUAL expected)
  message(FATAL_ERROR "--- expected:\n${expected}--- got:\n${out}--- stderr:\n${err}")
endif()
if(EXPECT_REGEX AND NOT "${out}${err}" MATCHES "${EXPECT_REGEX}")
  message(FATAL_ERROR "output does not match ${EXPECT_REGEX}\n--- stdout:\n${out}--- stderr:\n${err}")
endif()
