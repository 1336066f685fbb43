#include "controls/windowcontrols.h"

#include "controls/bitmapholder.h"
#include "controls/foldpanel.h"
#include "controls/linkimage.h"
#include "controls/paneles.h"
#include "controls/screwpanel.h"
#include "controls/wheel.h"
#include "controls/zphint.h"
#include "runtime/classregistry.h"

void RegisterWindowControls() {
    TClassRegistry::Register<TBitmapHolder>();
    TClassRegistry::Register<TPaneles>();
    TClassRegistry::Register<TScrewPanel>();
    TClassRegistry::Register<TFoldPanel>();
    TClassRegistry::Register<TImage>();
    TClassRegistry::Register<TLinkImage>();
    TClassRegistry::Register<TZPHint>();
    TClassRegistry::Register<TWheel>();
}
