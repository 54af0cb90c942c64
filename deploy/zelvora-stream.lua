-- Names the stream server's caller: the user lighttpd authenticated, in
-- place of any X-Zelvora-User the browser sent (none, for a request without
-- one); the password goes no further than lighttpd.
local r = lighty.r
r.req_header["X-Zelvora-User"] = r.req_env["REMOTE_USER"]
r.req_header["Authorization"] = nil
return 0
