# Writes the C++ source of SimDefaultScenarioFiles(): every *.json file of SCENARIO_DIR as a
# {name, text} pair, in name order. Run at build time:
#   cmake -DSCENARIO_DIR=<dir> -DOUTPUT=<file.cpp> -P EmbedScenarioFiles.cmake
file(GLOB names RELATIVE ${SCENARIO_DIR} ${SCENARIO_DIR}/*.json)
list(SORT names)
set(delimiter KXSIM)
set(entries "")
foreach(name IN LISTS names)
  file(READ ${SCENARIO_DIR}/${name} text)
  string(FIND "${text}" ")${delimiter}\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${name} contains )${delimiter}\" and cannot be embedded as a raw string")
  endif()
  string(APPEND entries "    {\"${name}\", R\"${delimiter}(${text})${delimiter}\"},\n")
endforeach()
file(WRITE ${OUTPUT}.new "// Generated from ${SCENARIO_DIR} by EmbedScenarioFiles.cmake: do not edit.
#include \"SimScenario.h\"

namespace {

const SimScenarioFile FILES[] = {
${entries}};

} // namespace

std::span<const SimScenarioFile> SimDefaultScenarioFiles()
{
    return FILES;
}
")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
