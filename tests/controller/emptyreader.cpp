// A loadable library without the reader's entry point.
#include <QtGlobal>

extern "C" Q_DECL_EXPORT int notTheEntryPoint()
{
    return 0;
}
