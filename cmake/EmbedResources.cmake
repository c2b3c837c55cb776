# Writes a C++ source holding the bytes of a compiled .res file and registering them with the
# platform before main() runs. Run with -DRES=<file.res> -DOUT=<file.cpp> -DNAME=<name>
# -DPROGRAM=<0|1>.
file(READ ${RES} hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# Sixteen bytes to a line.
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n    " bytes "${bytes}")
file(WRITE ${OUT} "// Generated from ${NAME}.rc: the compiled resources, registered before main().
#include <cstddef>

extern \"C\" void TavonneRegisterEmbeddedResources(const char* name, const unsigned char* data,
                                                 std::size_t size, int isProgram);

namespace {

alignas(4) const unsigned char kResources[] = {
    ${bytes}
};

const bool kRegistered = (TavonneRegisterEmbeddedResources(\"${NAME}\", kResources, ${size},
                                                           ${PROGRAM}),
                          true);

}  // namespace
")
