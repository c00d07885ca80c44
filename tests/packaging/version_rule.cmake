# Runs the version rule on VERSION: cmake -DVERSION=x.y.z -P version_rule.cmake prints the
# words and exits 0, or names the fault and exits non-zero.
include(${CMAKE_CURRENT_LIST_DIR}/../../packaging/version.cmake)
tessaly_version_words("${VERSION}" words)
message("${words}")
