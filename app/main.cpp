#include "wizardmain.h"

int main(int argc, char *argv[])
{
    return wizardMain(argc, argv);
}
