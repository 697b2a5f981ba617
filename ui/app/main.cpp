#include "AppMain.h"

int main(int argc, char* argv[]) {
    return runPlaybackEditTool(argc, argv);
}
