# Host libraries that the program binds at their first call instead of at its start: every
# function the library exports gets a stand-in of the same name here, which finds the real one
# through dlopen/dlsym when it is first called and jumps straight to it from then on. Loading a
# library with its dependencies costs about a millisecond on a busy machine, and a start that
# needs no window, sound or text would otherwise pay for all of them.
#
# kivor_lazy_library(TARGET RECORD LIBRARY) adds to TARGET the stand-ins for the shared library
# file LIBRARY, whose record (platform/lazy/lazy_library.h) is named RECORD.
function(kivor_lazy_library target record library)
  find_program(KIVOR_NM NAMES nm REQUIRED)
  find_program(KIVOR_OBJDUMP NAMES objdump REQUIRED)
  get_filename_component(real "${library}" REALPATH)
  execute_process(COMMAND ${KIVOR_OBJDUMP} -p "${real}" OUTPUT_VARIABLE header RESULT_VARIABLE failed)
  string(REGEX MATCH "SONAME +([^\n ]+)" found "${header}")
  if(failed OR NOT found)
    message(FATAL_ERROR "no SONAME in ${real}")
  endif()
  set(soname "${CMAKE_MATCH_1}")
  execute_process(COMMAND ${KIVOR_NM} -D --defined-only "${real}" OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cannot list the functions of ${real}")
  endif()
  # Functions only (T, W, i): data cannot be reached this way and is not used. Names with a
  # leading underscore are the library's private ones (and _init, _fini), never called here.
  string(REGEX MATCHALL "[0-9a-f]+ [TWi] [A-Za-z][A-Za-z0-9_]*" lines "${symbols}")
  set(names)
  foreach(line ${lines})
    string(REGEX REPLACE "^[0-9a-f]+ [TWi] " "" name "${line}")
    list(APPEND names "${name}")
  endforeach()
  list(REMOVE_DUPLICATES names)
  list(SORT names)
  list(LENGTH names count)

  set(stubs)
  set(texts)
  set(offsets)
  set(index 0)
  set(offset 0)
  foreach(name ${names})
    # A bound slot is jumped through; an empty one sends its index to the binder.
    list(APPEND stubs
      "  .globl ${name}\n  .type ${name}, @function\n${name}:\n"
      "  movq ${record}_slots+${index}*8(%rip), %r11\n  testq %r11, %r11\n  jz 1f\n  jmpq *%r11\n"
      "1:\n  movl $${index}, %r11d\n  jmp ${record}_bind\n  .size ${name}, .-${name}\n")
    list(APPEND texts "  .asciz \"${name}\"\n")
    list(APPEND offsets "  .long ${offset}\n")
    string(LENGTH "${name}" length)
    math(EXPR offset "${offset} + ${length} + 1")
    math(EXPR index "${index} + 1")
  endforeach()
  string(JOIN "" stubs ${stubs})
  string(JOIN "" texts ${texts})
  string(JOIN "" offsets ${offsets})

  set(out "${CMAKE_CURRENT_BINARY_DIR}/lazy_${record}.S")
  configure_file("${CMAKE_SOURCE_DIR}/platform/lazy/lazy_stubs.S.in" "${out}" @ONLY)
  target_sources(${target} PRIVATE "${out}")
endfunction()
