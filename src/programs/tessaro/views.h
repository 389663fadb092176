// The views and tool windows of the desktop program: each module's
// registration is called from here (one line per module).
#pragma once

namespace tessaro {

class ViewRegistry;
class MainWindow;

void RegisterViews(ViewRegistry& registry);
void RegisterTools(MainWindow& window);

}  // namespace tessaro
