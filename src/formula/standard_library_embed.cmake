# Writes a C++ source holding every data/formulas/*.formula file as bytes.
#   cmake -DINPUT_DIR=<data/formulas> -DOUTPUT=<file.cpp> -P standard_library_embed.cmake
file(GLOB files "${INPUT_DIR}/*.formula")
list(SORT files)
set(arrays "")
set(table "")
set(count 0)
foreach(path IN LISTS files)
  file(READ "${path}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  get_filename_component(name "${path}" NAME)
  string(APPEND arrays "const unsigned char kText${count}[] = {${bytes}0x00};\n")
  string(APPEND table "    {\"${name}\", kText${count}, ${size}},\n")
  math(EXPR count "${count} + 1")
endforeach()
if(count EQUAL 0)
  message(FATAL_ERROR "no formula files in ${INPUT_DIR}")
endif()
set(source "// Generated from data/formulas by standard_library_embed.cmake; do not edit.
#include \"formula/standard_library.h\"

namespace tessaro {
namespace {
${arrays}}  // namespace

const EmbeddedFormulaText kEmbeddedFormulaTexts[] = {
${table}};
const size_t kEmbeddedFormulaTextCount = ${count};

}  // namespace tessaro
")
# Rewritten only when it changes, so an unchanged library compiles nothing again.
file(WRITE "${OUTPUT}.new" "${source}")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
