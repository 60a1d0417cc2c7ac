#ifndef BEACONRYRESOURCES_H
#define BEACONRYRESOURCES_H

// Registers the program's compiled-in resources (the window icon). They live
// in a static library, whose registration the linker would otherwise drop.
void BeaconryInitResources();

#endif // BEACONRYRESOURCES_H
