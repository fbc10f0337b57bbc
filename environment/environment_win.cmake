# Settings through the suite's settings library, the suite's folders and path prefixes, and the
# branding library. The path compaction is portable; the rest is Win32.
add_library(kx_paths STATIC Paths.cpp)
target_link_libraries(kx_paths PUBLIC kx_options)
if(KX_WINDOWS)
  target_sources(kx_paths PRIVATE PathsCaseWin.cpp)
endif()
kx_test(paths_unittests SOURCES Paths_unittest.cpp LIBS kx_paths)

if(KX_WINDOWS)
  add_library(kx_environment_win STATIC SettingsWin.cpp PathsWin.cpp BrandingWin.cpp ActivationContextWin.cpp
            RegistryWin.cpp)
  target_link_libraries(kx_environment_win PUBLIC kx_options kx_tracecore kx_paths oleaut32 advapi32 user32)
  kx_test(environment_win_unittests
    SOURCES Settings_unittest.cpp Branding_unittest.cpp PathsWin_unittest.cpp RegistryWin_unittest.cpp
    LIBS kx_environment_win kx_tracecore_testing kx_wine_test_support kx_agent_driver)
  if(TARGET environment_win_unittests)
    add_dependencies(environment_win_unittests KxoSet kx_branding)
  endif()
endif()
