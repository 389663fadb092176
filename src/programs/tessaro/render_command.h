// tessaro --render: one chart picture rendered offscreen to a PNG file, then exit.
//
//   tessaro [--appdir DIR] --render SECURITY [--period day|week|min5|...]
//           [--indicators MACD,KDJ] [--size 1280x800] [--bars N] --out FILE.png
#pragma once

namespace tessaro {

// True when the arguments ask for --render.
bool WantsRender(int argc, char** argv);
// Runs it: 0 written, 1 failure (the reason on stderr), 2 a usage error.
int RunRender(int argc, char** argv);

}  // namespace tessaro
