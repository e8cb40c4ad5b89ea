# Install rules: the shared library, the exported and platform headers, a
# CMake package (find_package(ZorKalSnmp CONFIG)) and a pkg-config file, in
# three components (runtime, dev, tool) that CPack turns into Debian packages.
include(CMakePackageConfigHelpers)

install(TARGETS ZorKalSnmp EXPORT ZorKalSnmpTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/ ${PROJECT_SOURCE_DIR}/platform/include/
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev FILES_MATCHING PATTERN "*.h")
install(EXPORT ZorKalSnmpTargets NAMESPACE ZorKalSnmp::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/ZorKalSnmp COMPONENT dev)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ZorKalSnmpConfig.cmake.in
  ${PROJECT_BINARY_DIR}/ZorKalSnmpConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/ZorKalSnmp)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ZorKalSnmpConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ZorKalSnmpConfig.cmake
  ${PROJECT_BINARY_DIR}/ZorKalSnmpConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/ZorKalSnmp COMPONENT dev)
# The .pc file finds its prefix from where it lies, so an install moved or
# made with `cmake --install --prefix` still points at its own headers.
file(RELATIVE_PATH ZK_PC_TO_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
configure_file(${PROJECT_SOURCE_DIR}/cmake/ZorKalSnmp.pc.in
  ${PROJECT_BINARY_DIR}/ZorKalSnmp.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/ZorKalSnmp.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

# Debian packages (cpack -G DEB from a build configured with
# CMAKE_INSTALL_PREFIX=/usr): the runtime named after the SONAME, as Debian
# names shared libraries, the -dev package and the tool. dpkg-shlibdeps
# derives the system dependencies; the ones between our packages are pinned
# to this exact version because the tool and the headers match one build.
if(NOT PROJECT_IS_TOP_LEVEL)
  return()
endif()
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zorkalsnmp)
set(CPACK_PACKAGE_VENDOR "libZorKalSnmp developers")
set(CPACK_PACKAGE_CONTACT "libZorKalSnmp developers <zorkalsnmp@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "SNMP v1/v2c/v3 (USM) codec and protocol stack")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev)
if(TARGET zksnmp)
  list(APPEND CPACK_COMPONENTS_ALL tool)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps runs in each component's staging directory; the tool's own
# library lies in the runtime component's, beside it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "../runtime/usr/${CMAKE_INSTALL_LIBDIR}")
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(zk_deb_version "${PROJECT_VERSION}")
set(zk_runtime_pkg "libzorkalsnmp${PROJECT_VERSION_MAJOR}")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${zk_runtime_pkg})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# A shlibs file so that programs built against the package depend on it, and
# the ldconfig trigger that comes with it.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "SNMP v1/v2c/v3 (USM) codec and protocol stack, shared library")
set(CPACK_DEBIAN_DEV_PACKAGE_NAME "libzorkalsnmp-dev")
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${zk_runtime_pkg} (= ${zk_deb_version})")
set(CPACK_COMPONENT_DEV_DESCRIPTION "libZorKalSnmp headers, CMake package and pkg-config file")
set(CPACK_DEBIAN_TOOL_PACKAGE_NAME zksnmp)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION net)
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "${zk_runtime_pkg} (= ${zk_deb_version})")
set(CPACK_COMPONENT_TOOL_DESCRIPTION "zksnmp: SNMP manager, agent and trap listener on libZorKalSnmp")
include(CPack)
