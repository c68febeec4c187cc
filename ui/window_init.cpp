#include "ui/main_wnd.h"

namespace kx {

void CMainWnd::setUpLanguageAndBackground() {}

bool CMainWnd::detectInstallation() { return false; }

}  // namespace kx
