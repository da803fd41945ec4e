# Warnings, assertions and sanitizers shared by every target. Each target links
# project_options PRIVATE; nothing touches the global CMAKE_CXX_FLAGS.
add_library(project_options INTERFACE)

target_compile_options(project_options INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wold-style-cast -Wnon-virtual-dtor
    -Woverloaded-virtual -Wcast-qual -Wformat=2 -Wimplicit-fallthrough -Wextra-semi
    -Wsuggest-override -Wundef -Wnull-dereference -Wmissing-declarations)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(project_options INTERFACE -Wduplicated-cond -Wlogical-op)
    # GCC 12 warns wrongly in optimised builds about code inlined from the standard library:
    # -Wrestrict on std::string concatenation (GCC bug 105329, fixed in 13) and
    # -Wnull-dereference on std::vector::insert into a vector that is never empty there.
    # Debug builds keep both.
    if(CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
        target_compile_options(project_options INTERFACE
            $<$<NOT:$<CONFIG:Debug>>:-Wno-restrict -Wno-null-dereference>)
    endif()
endif()
target_include_directories(project_options INTERFACE ${PROJECT_SOURCE_DIR}/src)

# Assertions stay on in Debug and in every sanitizer build.
if(SANITIZE OR CMAKE_BUILD_TYPE STREQUAL "Debug")
    target_compile_definitions(project_options INTERFACE ZORVIK_ASSERTS=1 _GLIBCXX_ASSERTIONS)
endif()

if(SANITIZE)
    string(REPLACE ";" "," _zv_sanitizers "${SANITIZE}")
    add_compile_options(-fsanitize=${_zv_sanitizers} -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=${_zv_sanitizers})
endif()

if(ENABLE_WERROR)
    set(CMAKE_COMPILE_WARNING_AS_ERROR ON)
endif()

# Adds a static library for one source folder. Usage:
#   zorvik_library(NAME storage SOURCES a.cpp b.cpp DEPS metainfo base)
function(zorvik_library)
    cmake_parse_arguments(ARG "" "NAME" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
    add_library(${ARG_NAME} STATIC ${ARG_SOURCES})
    target_link_libraries(${ARG_NAME} PUBLIC ${ARG_DEPS} PRIVATE project_options ${ARG_PRIVATE_DEPS})
    target_include_directories(${ARG_NAME} PUBLIC ${PROJECT_SOURCE_DIR}/src)
endfunction()
