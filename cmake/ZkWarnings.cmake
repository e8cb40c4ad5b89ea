# Warning flags applied privately to every target of the project.
function(zk_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()
