# The library for WebAssembly (wasm32, SIMD128), with clang and Debian's wasi-libc,
# libc++-14-dev-wasm32 and libclang-rt-14-dev-wasm32: bash tools/web builds it.
set(CMAKE_SYSTEM_NAME WASI)
set(CMAKE_SYSTEM_PROCESSOR wasm32)
list(APPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR})  # Platform/WASI.cmake
find_program(GRAYBMP_WASM_CLANG NAMES clang-14 clang REQUIRED)
find_program(GRAYBMP_WASM_CLANGXX NAMES clang++-14 clang++ REQUIRED)
set(CMAKE_C_COMPILER ${GRAYBMP_WASM_CLANG})
set(CMAKE_CXX_COMPILER ${GRAYBMP_WASM_CLANGXX})
set(CMAKE_C_COMPILER_TARGET wasm32-wasi)
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)
set(CMAKE_SYSROOT /usr)
set(CMAKE_C_FLAGS_INIT "-msimd128 -mbulk-memory -mnontrapping-fptoint -msign-ext -ftls-model=local-exec")
set(CMAKE_CXX_FLAGS_INIT "-msimd128 -mbulk-memory -mnontrapping-fptoint -msign-ext -ftls-model=local-exec -fno-exceptions")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE NEVER)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
