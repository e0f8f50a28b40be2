# MIRVA_SANITIZE=asan: AddressSanitizer + UndefinedBehaviorSanitizer; MIRVA_SANITIZE=tsan: ThreadSanitizer.
if(MIRVA_SANITIZE STREQUAL "asan")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(MIRVA_SANITIZE STREQUAL "tsan")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
  # Boost.Asio's headers use std::atomic_thread_fence, which g++ warns ThreadSanitizer does
  # not model; the targets that include Asio add this so -Werror lets them through.
  set(MIRVA_ASIO_COMPILE_OPTIONS -Wno-tsan)
elseif(NOT MIRVA_SANITIZE STREQUAL "")
  message(FATAL_ERROR "MIRVA_SANITIZE must be empty, 'asan' or 'tsan', not '${MIRVA_SANITIZE}'")
endif()
