# Each folder of the tree is one library whose users see only its own
# headers, as "folder/name.h", through a link of its own in the build tree:
# a lower layer that includes a higher one by accident does not compile.
# The layers, lowest first: common, driver, base, regtest, station, app (with
# pages); sim stands beside them on common alone; tools, tests, bench and fuzz
# sit on top.
function(km_folder_headers target folder)
  set(root ${PROJECT_BINARY_DIR}/headers/${folder})
  if(NOT IS_SYMLINK ${root}/${folder})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC ${root})
endfunction()
