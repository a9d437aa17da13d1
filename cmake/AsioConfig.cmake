# asio_config: how every translation unit that includes asio configures it.
#
# asio 1.22 works out ASIO_HAS_STD_ALIGNED_ALLOC from macros that only a C++
# library header defines, so the answer depends on whether such a header came
# before <asio.hpp>. Two files of one program that disagree hand asio's
# recycled handler memory between operator new and std::free. Deciding it here,
# for every target that links asio_config, takes include order out of it; the
# asio_config_consistency test checks the result with the preprocessor.
find_path(ASIO_INCLUDE_DIR asio.hpp REQUIRED DOC "standalone asio (Debian libasio-dev)")

add_library(asio_config INTERFACE)
target_include_directories(asio_config SYSTEM INTERFACE ${ASIO_INCLUDE_DIR})
target_compile_definitions(asio_config INTERFACE
  ASIO_STANDALONE
  ASIO_NO_DEPRECATED
  # aligned_alloc is in every C library we build with; it honours the
  # alignment asio asks for, which its operator new fallback ignores.
  ASIO_HAS_STD_ALIGNED_ALLOC=1)
