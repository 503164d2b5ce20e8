#include "KavrelCompanion/ServiceLinks.hpp"

#include "CompanionCore/ipc/OriginValidator.hpp"
#include "CompanionCore/model/CompanionModel.hpp"
#include "CompanionCore/runtime/Workspace.hpp"

namespace kavrel {

void ServiceLinks::openKavrel(const std::string& typedOrigin, Workspace& workspace) {
    if (const auto origin = OriginValidator::validate(typedOrigin)) {
        workspace.open(origin->absoluteString);
    }
}

std::string ServiceLinks::downloadsPage() {
    return std::string(CompanionModel::defaultOrigin) + "/downloads";
}

void ServiceLinks::openDownloads(Workspace& workspace) {
    workspace.open(downloadsPage());
}

} // namespace kavrel
