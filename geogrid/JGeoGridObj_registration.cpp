// Load-time registration of the JGeoGridObj plug-in: when the host opens the
// library, this static initialiser builds one temporary block, registers its
// class with the host (which keeps a copy as the class's prototype) and
// destroys the temporary again.
#include "geogrid/JGeoGridObj.h"

namespace {

JString registerGeoGrid() {
  JGeoGridObj prototype;
  return prototype.Register();
}

}  // namespace

// The class name the host registered, or "" when it refused the class.
JString registered = registerGeoGrid();
