// The POSIX entry point: the arguments are the bytes the caller gave, UTF-8 in
// every locale the program supports.
#include "app/entry_point.h"

int main(int argc, char** argv) { return ZT::tarvex_main(argc, argv); }
