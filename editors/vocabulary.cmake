# The files that spell the words of the language, made from the compiler's
# vocabulary table (src/parser/vocabulary.h) so that a word is added in one
# place: the TextMate grammar and the Vim syntax file under editors/ of the
# build directory, the fuzzers' dictionaries under fuzz/, each from its
# template (the same path with .in). The generator reads the table's header
# only. A cross build runs it as it runs its other build tools (the Windows
# build under Wine).
add_executable(vendrak_vocabulary_file editors/vocabulary_file.cpp)
target_include_directories(vendrak_vocabulary_file PRIVATE ${PROJECT_SOURCE_DIR}/src)
set(vocabulary_outputs)
foreach(entry "textmate;editors/vscode/syntaxes/vsc.tmLanguage.json" "vim;editors/vim/syntax/vsc.vim"
              "dict;fuzz/script.dict" "lsp-dict;fuzz/lsp.dict")
  list(GET entry 0 format)
  list(GET entry 1 file)
  set(output ${PROJECT_BINARY_DIR}/${file})
  get_filename_component(output_dir ${output} DIRECTORY)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${output_dir}
    COMMAND vendrak_vocabulary_file ${format} ${PROJECT_SOURCE_DIR}/${file}.in ${output}
    DEPENDS vendrak_vocabulary_file ${PROJECT_SOURCE_DIR}/${file}.in ${PROJECT_SOURCE_DIR}/src/parser/vocabulary.h
    COMMENT "${file} from the vocabulary table")
  list(APPEND vocabulary_outputs ${output})
endforeach()
add_custom_target(vocabulary_files ALL DEPENDS ${vocabulary_outputs})
