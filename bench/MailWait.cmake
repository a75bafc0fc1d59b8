# The processor time of a mail check that waits on a silent server.
add_executable(bench_mailwait ${CMAKE_CURRENT_LIST_DIR}/bench_mailwait.cpp)
target_link_libraries(bench_mailwait PRIVATE pantel_mail Qt6::Network)
