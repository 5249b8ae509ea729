#include "app/service/mosquitto_api.h"

#include "app/service/shared_library.h"

const TMosquittoApi* MosquittoApi(std::string& error) {
    return LoadOnce<TMosquittoApi>(
        "libmosquitto.so.1", "libmosquitto1", "MQTT",
        [](TSharedLibrary& library, TMosquittoApi& api) {
            library.Load(api.connack_string, "mosquitto_connack_string");
            library.Load(api.connect_async, "mosquitto_connect_async");
            library.Load(api.connect_callback_set, "mosquitto_connect_callback_set");
            library.Load(api.destroy, "mosquitto_destroy");
            library.Load(api.disconnect, "mosquitto_disconnect");
            library.Load(api.disconnect_callback_set, "mosquitto_disconnect_callback_set");
            library.Load(api.int_option, "mosquitto_int_option");
            library.Load(api.lib_cleanup, "mosquitto_lib_cleanup");
            library.Load(api.lib_init, "mosquitto_lib_init");
            library.Load(api.loop_start, "mosquitto_loop_start");
            library.Load(api.loop_stop, "mosquitto_loop_stop");
            library.Load(api.message_callback_set, "mosquitto_message_callback_set");
            library.Load(api.create, "mosquitto_new");
            library.Load(api.publish, "mosquitto_publish");
            library.Load(api.publish_callback_set, "mosquitto_publish_callback_set");
            library.Load(api.reconnect_delay_set, "mosquitto_reconnect_delay_set");
            library.Load(api.strerror, "mosquitto_strerror");
            library.Load(api.subscribe, "mosquitto_subscribe");
            library.Load(api.tls_set, "mosquitto_tls_set");
            library.Load(api.username_pw_set, "mosquitto_username_pw_set");
            library.Load(api.will_set, "mosquitto_will_set");
        },
        error);
}
