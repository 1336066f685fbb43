#pragma once

// Makes the fold panels, decorative panels, picture holders, images, the hint window and the
// mouse-wheel component known to window descriptions.
void RegisterWindowControls();
