// zuvoplayer: opens zuvop2p:// links in the video player control.
#include "player/player_app.h"

int main(int argc, char** argv) {
    return zuvo::RunPlayer(argc, argv);
}
