// Process entry of the panel program.
#include "shell/KOVEXFuel.h"

int main() { return ProgramEntry(); }
