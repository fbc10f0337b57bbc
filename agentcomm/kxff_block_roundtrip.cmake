# Runs "kxff block decode" and "kxff block encode" over the named seed blocks (*.bin, as this format
# writes them; fuzzer finds may use wider counts or unordered names) and checks that the bytes
# come back unchanged. Called as: cmake -DKXFF=<kxff> -DCORPUS=<dir> -DWORK=<dir> -P this-file
file(GLOB blocks ${CORPUS}/*.bin)
file(MAKE_DIRECTORY ${WORK})
set(checked 0)
foreach(block IN LISTS blocks)
  get_filename_component(name ${block} NAME)
  execute_process(COMMAND ${KXFF} block decode ${block} OUTPUT_FILE ${WORK}/${name}.json
                  ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT err STREQUAL "")
    continue()  # not a whole block: decoding says so, and there is nothing to compare
  endif()
  execute_process(COMMAND ${KXFF} block encode ${WORK}/${name}.json OUTPUT_FILE ${WORK}/${name}.bin
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${name}: encode failed")
  endif()
  file(SHA256 ${block} want)
  file(SHA256 ${WORK}/${name}.bin got)
  if(NOT want STREQUAL got)
    message(FATAL_ERROR "${name}: decode then encode changed the bytes")
  endif()
  math(EXPR checked "${checked} + 1")
endforeach()
if(checked EQUAL 0)
  message(FATAL_ERROR "no block checked")
endif()
message(STATUS "${checked} blocks came back unchanged")
