# Generated sources of snapshot/: the formula scanner, made by flex from formula_scanner.l.
find_package(FLEX REQUIRED)
FLEX_TARGET(FormulaScanner ${CMAKE_CURRENT_LIST_DIR}/formula_scanner.l
            ${CMAKE_CURRENT_BINARY_DIR}/formula_scanner.cc COMPILE_FLAGS "--warn")
target_sources(zoltsheet PRIVATE ${FLEX_FormulaScanner_OUTPUTS})
# FlexLexer.h for the generated code (the public header keeps it out of its users' way).
target_include_directories(zoltsheet PRIVATE ${FLEX_INCLUDE_DIRS} ${CMAKE_CURRENT_BINARY_DIR})
# The null output stream of the scanner.
target_link_libraries(zoltsheet PRIVATE Boost::iostreams)
# flex 2.6.4 output builds clean with GCC and clang under -Wall -Wextra; other flex releases
# emit these in their skeleton code, which is not ours to change.
set_source_files_properties(${FLEX_FormulaScanner_OUTPUTS} PROPERTIES COMPILE_OPTIONS
                            "-Wno-sign-compare;-Wno-unused-function;-Wno-unused-parameter")
