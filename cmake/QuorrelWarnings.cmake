# Warnings. Every target gets the ordinary set; the program itself (the core,
# the command-line tool, the window, the platform layer) also the stricter
# set: narrowing and sign changes, shadowed names and C-style casts. Whether
# a warning stops the build is the preset's choice (CMAKE_COMPILE_WARNING_AS_ERROR
# in dev and asan), so a newer compiler's new warning never breaks a user's build.
if(NOT MSVC)
  add_compile_options(-Wall -Wextra -Wpedantic)
endif()

# quorrel_strict_warnings(<folder>...): the stricter set on every compiled
# target of these folders and the folders under them, called once they are
# all added.
function(quorrel_strict_warnings)
  if(MSVC)
    return()
  endif()
  foreach(dir IN LISTS ARGN)
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target IN LISTS targets)
      get_target_property(type ${target} TYPE)
      if(type MATCHES "^(STATIC_LIBRARY|SHARED_LIBRARY|OBJECT_LIBRARY|EXECUTABLE)$")
        target_compile_options(${target} PRIVATE
          "$<$<COMPILE_LANGUAGE:CXX>:-Wconversion;-Wsign-conversion;-Wshadow;-Wold-style-cast>")
      endif()
    endforeach()
    get_property(folders DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    quorrel_strict_warnings(${folders})
  endforeach()
endfunction()
