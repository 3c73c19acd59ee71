# Project-wide warning set; CI builds treat every warning as an error.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
                    -Wnull-dereference -Wdouble-promotion -Wformat=2 -Wimplicit-fallthrough)
if(ZQR_WERROR)
  add_compile_options(-Werror)
endif()

# Files whose single-precision products and sums must round exactly as written
# call this, so the compiler never fuses a multiply and an add into one rounding.
function(zqr_exact_float target)
  target_compile_options(${target} PRIVATE -ffp-contract=off -fno-fast-math)
endfunction()
