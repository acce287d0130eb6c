// Entry point: hands over to the start-up routines.
#include "app/Startup.h"

int main(int argc, char** argv) {
    return Main(argc, argv);
}
