# Fails unless nm -D --defined-only on LIB lists exactly the exported morvel_*
# functions, each in its symbol version (the first five in MORVEL_0.1, the
# later ones in MORVEL_0.2), and the two version names.
execute_process(COMMAND nm -D --defined-only ${LIB} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()
string(REGEX MATCHALL "[^ \n]+\n" lines "${out}")
set(names "")
foreach(line ${lines})
  string(STRIP "${line}" name)
  list(APPEND names ${name})
endforeach()
list(SORT names)
set(want MORVEL_0.1 MORVEL_0.2
         morvel_check@@MORVEL_0.1 morvel_check_mem@@MORVEL_0.2 morvel_cleanup@@MORVEL_0.1 morvel_free@@MORVEL_0.2
         morvel_init@@MORVEL_0.1 morvel_last_errno@@MORVEL_0.2 morvel_last_error@@MORVEL_0.1
         morvel_optimize@@MORVEL_0.1 morvel_optimize_ex@@MORVEL_0.2 morvel_optimize_mem@@MORVEL_0.2
         morvel_version@@MORVEL_0.2)
if(NOT "${names}" STREQUAL "${want}")
  message(FATAL_ERROR "exported: ${names}\nexpected: ${want}")
endif()
