#pragma once
// The application icon (resource 128): a receipt printer with a receipt coming out. The
// same drawing as tavroset.svg, painted in code so that no SVG plugin is needed at run time.
#include <QIcon>

QIcon appIcon();
