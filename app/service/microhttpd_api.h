#pragma once
// GNU libmicrohttpd, loaded when the daemon is given --http: without it the
// daemon maps neither it nor GnuTLS, and stays as small as before.

#include <microhttpd.h>

#include <string>

struct TMicrohttpdApi {
    decltype(&::MHD_start_daemon) start_daemon;
    decltype(&::MHD_stop_daemon) stop_daemon;
    decltype(&::MHD_run) run;
    decltype(&::MHD_get_daemon_info) get_daemon_info;
    decltype(&::MHD_is_feature_supported) is_feature_supported;
    decltype(&::MHD_lookup_connection_value) lookup_connection_value;
    decltype(&::MHD_get_connection_info) get_connection_info;
    decltype(&::MHD_create_response_from_buffer) create_response_from_buffer;
    decltype(&::MHD_create_response_from_callback) create_response_from_callback;
    decltype(&::MHD_add_response_header) add_response_header;
    decltype(&::MHD_queue_response) queue_response;
    decltype(&::MHD_destroy_response) destroy_response;
    decltype(&::MHD_suspend_connection) suspend_connection;
    decltype(&::MHD_resume_connection) resume_connection;
};

// The library's calls, or nullptr with the reason when it cannot be loaded.
const TMicrohttpdApi* MicrohttpdApi(std::string& error);
