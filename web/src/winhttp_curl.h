// The HTTP request component of Linux, built on libcurl.
#pragma once

#include <memory>
#include <string>

#include "web/automation.h"
#include "web/web_request.h"

namespace web {

std::shared_ptr<Component> MakeCurlHttpRequest();

// Test hook: certificates issued by the authority in this PEM file are
// trusted (instead of the system's authorities); empty restores the default.
void SetTrustedAuthorityFileForTesting(std::string pemPath);

}  // namespace web
