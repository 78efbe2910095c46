#ifndef DISPLAYSCALING_H
#define DISPLAYSCALING_H

// Makes the wizard follow the display's scale (Xft.dpi on X11, the scaling setting on
// Windows): at 150 % its 960 x 640 window becomes 1440 x 960 device pixels, pictures
// come from their @2x files and painting scales. Call before the application object
// exists; Qt reads these settings only while it is built.
namespace DisplayScaling {

void enable();

} // namespace DisplayScaling

#endif
