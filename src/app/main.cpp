#include "app/program_start.h"

int main(int argc, char** argv) { return ombrik::ProgramStart(argc, argv); }
