# Warnings are errors for every target of this project.
add_compile_options(-Wall -Wextra -Werror)
