#include "mox_utils/metadata/MetadataHelpers.h"

#include "mox_utils/metadata/VarInfo.h"
#include "mox_utils/metadata/VariableUtility.h"

namespace mox::detail {

MetadataHelpers::MetadataHelpers()
    : utilityInitialized(VariableUtility::FillHelpers(sources, access)),
      varInfoInitialized(VarInfo::FillHelpers(types, permissions)) {}

MetadataHelpers& metadataHelpers() {
  static MetadataHelpers helpers;
  return helpers;
}

}  // namespace mox::detail
