# Warnings as errors, and Debian's hardening flags for the builds that ship.
# Included by the top-level CMakeLists.txt after its warning and sanitizer options, before
# any target: add_compile_options reaches only the targets defined after it, which are all
# the project's own (libraries from Debian come in through system include folders, whose
# headers never warn).

include(CheckCXXCompilerFlag)

# CI exports ORVANTA_WERROR=ON so that every build of its run fails on a warning; a
# developer's build only warns unless asked.
set(_orvanta_werror_default OFF)
if("$ENV{ORVANTA_WERROR}")
  set(_orvanta_werror_default ON)
endif()
option(ORVANTA_WERROR
       "Fail on a compiler warning in the project's own code (default ON when the environment \
sets ORVANTA_WERROR=ON)"
       ${_orvanta_werror_default})
if(ORVANTA_WERROR)
  add_compile_options(-Werror)
endif()

# What dpkg-buildflags gives a Debian 12 package built with hardening=+all, and the
# stack-clash and control-flow protection that later Debian releases add to it. Not in Debug
# builds (_FORTIFY_SOURCE needs the optimizer) nor under the sanitizers, which bring their
# own checks.
option(ORVANTA_HARDEN "Build with Debian's hardening flags (all but Debug and sanitizer builds)"
       ON)
if(ORVANTA_HARDEN AND NOT ORVANTA_SANITIZE AND NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
  # Position-independent executables through -fPIE (Debian's compilers' default, made
  # explicit), not CMake's POSITION_INDEPENDENT_CODE: that compiles the static libraries with
  # -fPIC, which no executable needs and under which GCC 12 inlines std::vector's inserts
  # into false -Warray-bounds reports. Qt's targets still get the -fPIC that Qt asks for.
  add_compile_options(-fPIE)
  add_link_options(-pie)
  # -U first: a compiler that defines its own level would otherwise warn of a redefinition.
  add_compile_options(-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2 -fstack-protector-strong -Wformat
                      -Werror=format-security)
  # Asked of the compiler first: -fcf-protection exists on x86 only.
  foreach(_flag -fstack-clash-protection -fcf-protection)
    string(MAKE_C_IDENTIFIER "ORVANTA_HAS${_flag}" _var)
    check_cxx_compiler_flag(${_flag} ${_var})
    if(${_var})
      add_compile_options(${_flag})
    endif()
  endforeach()
  add_link_options(-Wl,-z,relro -Wl,-z,now)
endif()
