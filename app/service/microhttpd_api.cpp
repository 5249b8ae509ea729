#include "app/service/microhttpd_api.h"

#include "app/service/shared_library.h"

const TMicrohttpdApi* MicrohttpdApi(std::string& error) {
    return LoadOnce<TMicrohttpdApi>(
        "libmicrohttpd.so.12", "libmicrohttpd12", "the web door",
        [](TSharedLibrary& library, TMicrohttpdApi& api) {
            library.Load(api.start_daemon, "MHD_start_daemon");
            library.Load(api.stop_daemon, "MHD_stop_daemon");
            library.Load(api.run, "MHD_run");
            library.Load(api.get_daemon_info, "MHD_get_daemon_info");
            library.Load(api.is_feature_supported, "MHD_is_feature_supported");
            library.Load(api.lookup_connection_value, "MHD_lookup_connection_value");
            library.Load(api.get_connection_info, "MHD_get_connection_info");
            library.Load(api.create_response_from_buffer, "MHD_create_response_from_buffer");
            library.Load(api.create_response_from_callback, "MHD_create_response_from_callback");
            library.Load(api.add_response_header, "MHD_add_response_header");
            library.Load(api.queue_response, "MHD_queue_response");
            library.Load(api.destroy_response, "MHD_destroy_response");
            library.Load(api.suspend_connection, "MHD_suspend_connection");
            library.Load(api.resume_connection, "MHD_resume_connection");
        },
        error);
}
