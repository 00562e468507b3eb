# Each folder of the tree is one library whose users see only its own public
# headers, as "folder/name.h", through links of their own in the build tree:
# a lower layer that includes a higher one by accident does not compile, and
# neither does a user of a folder that includes one of its private headers.
# The layers, lowest first: common, driver, base, regtest, history, station,
# app (with pages); sim stands beside them on common alone; tools, tests, bench and fuzz
# sit on top. Tests reach a library's internals only through its testing.h.
#
#   km_folder_headers(TARGET FOLDER [PRIVATE header ...])
#
# The library's own sources see the whole folder; its users see every header
# of the folder (subfolders included) except the *_internal.h ones and those
# named after PRIVATE.
function(km_folder_headers target folder)
  cmake_parse_arguments(KM "" "" "PRIVATE" ${ARGN})
  set(source ${PROJECT_SOURCE_DIR}/${folder})

  # The folder as a whole, for the library's own sources.
  set(inner ${PROJECT_BINARY_DIR}/headers-inner/${folder})
  if(NOT IS_SYMLINK ${inner}/${folder})
    file(MAKE_DIRECTORY ${inner})
    file(CREATE_LINK ${source} ${inner}/${folder} SYMBOLIC)
  endif()

  # One link per public header, made anew at each configuration (a build tree
  # of an earlier layout has a link to the whole folder there: it goes).
  set(outer ${PROJECT_BINARY_DIR}/headers/${folder})
  if(IS_SYMLINK ${outer}/${folder})
    file(REMOVE ${outer}/${folder})
  endif()
  file(REMOVE_RECURSE ${outer}/${folder})
  file(GLOB_RECURSE headers CONFIGURE_DEPENDS RELATIVE ${source} ${source}/*.h)
  foreach(header IN LISTS headers)
    get_filename_component(name ${header} NAME)
    if(name MATCHES "_internal\\.h$" OR header IN_LIST KM_PRIVATE)
      continue()
    endif()
    get_filename_component(dir ${outer}/${folder}/${header} DIRECTORY)
    file(MAKE_DIRECTORY ${dir})
    file(CREATE_LINK ${source}/${header} ${outer}/${folder}/${header} SYMBOLIC)
  endforeach()

  target_include_directories(${target} PUBLIC ${outer} PRIVATE ${inner})
endfunction()

# The include root of the tests and benchmarks: the tests' own shared helpers
# as "tests/...", and nothing else of the source tree.
function(km_tests_include_root out)
  set(root ${PROJECT_BINARY_DIR}/headers-tests)
  if(NOT IS_SYMLINK ${root}/tests)
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/tests ${root}/tests SYMBOLIC)
  endif()
  set(${out} ${root} PARENT_SCOPE)
endfunction()
