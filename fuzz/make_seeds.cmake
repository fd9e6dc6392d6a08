# Makes the fuzzer's seed corpus from object descriptions: the sample
# installation's objects (sample/src) and the damaged and unusual objects of
# fuzz/seeds. Run as a script with MKOBJ (the mkobj command) and OUT (the
# corpus directory, emptied first). Every seed is a readable description in
# the repository; the binary objects exist only in the build directory.
if(NOT MKOBJ OR NOT OUT)
  message(FATAL_ERROR "make_seeds.cmake needs -DMKOBJ=... and -DOUT=...")
endif()

get_filename_component(root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
file(GLOB descriptions "${root}/sample/src/*.desc" "${CMAKE_CURRENT_LIST_DIR}/seeds/*.desc")
file(REMOVE_RECURSE "${OUT}")
file(MAKE_DIRECTORY "${OUT}")
foreach(desc IN LISTS descriptions)
  get_filename_component(name "${desc}" NAME_WE)
  execute_process(COMMAND "${MKOBJ}" "${desc}" "${OUT}/${name}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "mkobj failed for ${desc}")
  endif()
endforeach()
