# Every target of the project builds clean with these.
add_compile_options(-Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
