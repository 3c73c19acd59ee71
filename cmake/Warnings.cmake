# Project-wide warning set; CI builds treat every warning as an error.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
                    -Wnull-dereference -Wdouble-promotion -Wformat=2 -Wimplicit-fallthrough)
# GCC 12 at -O3 reports std::string copies as overlapping memcpy calls (a known false
# positive of -Wrestrict), which would fail every Release build.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  add_compile_options(-Wno-restrict)
endif()
if(ZQR_WERROR)
  add_compile_options(-Werror)
endif()

# Files whose single-precision products and sums must round exactly as written
# call this, so the compiler never fuses a multiply and an add into one rounding.
function(zqr_exact_float target)
  target_compile_options(${target} PRIVATE -ffp-contract=off -fno-fast-math)
endfunction()
