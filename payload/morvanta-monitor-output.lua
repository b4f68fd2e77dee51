-- Output script registered in every OBS scene collection by the installer. This placeholder only
-- announces itself in the OBS log; the real script replaces it in a packaged build.
obs = obslua

function script_description()
    return "Morvanta Radidor monitor output (placeholder)."
end

function script_load(settings)
    obs.script_log(obs.LOG_INFO, "Morvanta monitor output script loaded")
end
