// The program's entry point.
#include "app/engine.h"

int main(int argc, char** argv) { return EngineMain(argc, argv); }
