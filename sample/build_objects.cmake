# Makes the sample installation's objects from their descriptions. Run as a
# script with MKOBJ (the mkobj command) and KTE (the installation home).
# Each description sample/src/<name>.desc becomes the object <name> at its
# place under ${KTE}/obj: the directory is the first six characters of the
# name, the file "o" followed by the name from its fourth character on
# (oxxmain -> ${KTE}/obj/oxxmai/omain).
if(NOT MKOBJ OR NOT KTE)
  message(FATAL_ERROR "build_objects.cmake needs -DMKOBJ=... and -DKTE=...")
endif()

file(GLOB descriptions "${CMAKE_CURRENT_LIST_DIR}/src/*.desc")
foreach(desc IN LISTS descriptions)
  get_filename_component(name "${desc}" NAME_WE)
  string(SUBSTRING "${name}" 0 6 dir)
  string(SUBSTRING "${name}" 3 -1 rest)
  set(object "${KTE}/obj/${dir}/o${rest}")
  execute_process(COMMAND "${MKOBJ}" "${desc}" "${object}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "mkobj failed for ${desc}")
  endif()
endforeach()
