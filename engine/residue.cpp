#include "engine/residue.h"

namespace engine {

void CleanResidue() {}

}  // namespace engine
